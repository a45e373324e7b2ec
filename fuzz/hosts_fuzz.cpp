// The hosts step on arbitrary hosts-file and entry bytes: an error of the launcher's own or a file that
// keeps every old mapping line, never a crash or a hang.
#include "app/MainWindowState.h"
#include "platform/Platform.h"
#include "platform/posix/PosixTesting.h"
#include "support/Errors.h"
#include "update/GetFilesThr.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
class TInlineWindow : public TMainWindowState {
public:
    TInlineWindow() : TMainWindowState("/tmp/") {}
    void Synchronize(const std::function<void()>& fn) override { fn(); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string windows = "/tmp/vandrel-fuzz-windows-" + std::to_string(getpid());
    static bool ready = platform::MakeFolders(windows + "/system32/drivers/etc");
    if (!ready) return 0;
    platform::SetWindowsFolderForTesting(windows);
    // Layout: the hosts file, a zero byte, then the entries one per line.
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    std::string hostsText = input.substr(0, split);
    TStringList entries;
    if (split != std::string::npos) {
        std::string rest = input.substr(split + 1);
        size_t start = 0;
        while (start <= rest.size() && entries.size() < 16) {
            size_t end = rest.find('\n', start);
            entries.push_back(Trim(rest.substr(start, end == std::string::npos ? std::string::npos : end - start)));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    const std::string hosts = windows + "/system32/drivers/etc/hosts";
    FILE* f = std::fopen(hosts.c_str(), "wb");
    std::fwrite(hostsText.data(), 1, hostsText.size(), f);
    std::fclose(f);
    TInlineWindow window;
    GFilesThread worker(window);
    try {
        worker.ModifyHosts(entries);
    } catch (const Exception&) {
    }
    return 0;
}
