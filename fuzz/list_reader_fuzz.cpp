// The update list reader on arbitrary bytes: no crash, no hang, "FAIL" or real lines only.
#include "support/LstFile.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/vandrel-fuzz-list-" + std::to_string(getpid()) + ".lst";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    TListFile list(path);
    try {
        for (const char* section : {"settings", "hosts", "self", "files_critical", "files_normal"}) {
            TStringList lines = list.GetSection(section);
            if (lines.empty()) __builtin_trap();
            for (const std::string& line : lines) {
                if (line.empty() || line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
                    __builtin_trap();
                if (line.size() > kMaxListLine) __builtin_trap();
            }
        }
        list.GetValue("settings", "Rev");
        list.GetValue("settings", "ModHosts");
    } catch (const EListLineTooLong&) {
        // a corrupt list, refused as such
    }
    return 0;
}
