// The signature file beside the update list comes from the server: any bytes are either refused or
// read as exactly one signature that writes back to the same line.
#include "support/ListSignature.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Half the inputs start with the line's prefix, so that the digits and line ends get explored too.
    if (size > 0 && data[0] & 1) text = kSignatureFilePrefix + text.substr(1);
    const std::optional<TListSignature> signature = ParseSignatureFile(text);
    if (!signature) return 0;
    const std::optional<TListSignature> again = ParseSignatureFile(FormatSignatureFile(*signature));
    if (!again || *again != *signature) std::abort();
    if (ParsePublicKeyHex(text)) std::abort(); // a signature line is never taken for a key
    return 0;
}
