// Checking a served update set the way a launcher meets it: over HTTP, payload by payload.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace publish {

struct VerifyReport {
    int32_t revision = 0;
    size_t entries = 0;                // file entries checked, the launcher's exe included
    std::vector<std::string> problems; // one line each; empty when the set is sound
};

// Downloads files.lst.bz2 from baseUrl and every payload it lists, and checks that each payload is
// listed with its size and unpacks to its listed digest, and that the list itself reads as the
// launcher reads it. With an installDir the files are unpacked there and kept (a trial install);
// without one a temporary folder is used and removed. onEntry is called before each entry.
// With a publicKey (64 hexadecimal digits) the list must carry a valid signature by that key, as a
// launcher built with it requires, and with an installDir its revision must not be below the one
// installed there; otherwise nothing else is checked. A list that names objects has each of them
// checked by its name on baseUrl (and, with mirrors, on every mirror it names, with every chunk).
VerifyReport Verify(const std::string& baseUrl, const std::string& installDir,
                    const std::function<void(size_t done, size_t total, const std::string& path)>& onEntry = {},
                    const std::string& publicKey = std::string(), bool mirrors = false);

} // namespace publish
