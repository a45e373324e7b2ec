// The list's additions (mirrors, objects, kept lists) on arbitrary bytes: no crash, every bound kept,
// and what is read writes back to text that reads the same.
#include "support/ListAdditions.h"
#include "support/LstFile.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/vandrel-fuzz-additions-" + std::to_string(getpid()) + ".lst";
    const auto write = [&](const char* bytes, size_t count) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::fwrite(bytes, 1, count, f);
        std::fclose(f);
        return true;
    };
    if (!write(reinterpret_cast<const char*>(data), size)) return 0;
    try {
        TListFile list(path);
        const TListAdditions read = TListAdditions::Read(list);
        if (read.Mirrors().size() > TListAdditions::kMaxMirrors || read.Kept().size() > TListAdditions::kMaxKept)
            __builtin_trap();
        for (const std::string& mirror : read.Mirrors())
            if (!MirrorAddress(mirror) || mirror.back() != '/') __builtin_trap();
        for (const auto& [digest, objects] : read.Objects()) {
            if (objects.payload && objects.payload->size < 0) __builtin_trap();
            if (objects.index && objects.index->size < 0) __builtin_trap();
        }
        const std::string text = read.Format();
        if (!write(text.data(), text.size())) return 0;
        TListFile again(path);
        if (!(TListAdditions::Read(again) == read)) __builtin_trap();
    } catch (const EListLineTooLong&) {
        // a corrupt list, refused as such
    }
    return 0;
}
