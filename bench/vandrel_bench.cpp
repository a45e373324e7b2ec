// The launcher's own side of each benchmark: one operation, timed by the caller.
//   vandrel-bench digest FILE
//   vandrel-bench unpack PAYLOAD.bz2 DESTINATION
//   vandrel-bench download URL DESTINATION       (progress reaches a real UI thread)
//   vandrel-bench update BASE_URL INSTALL_DIR    (a whole update run; prints peak memory)
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/md5.h"
#include "tests/native/ThreadedWindow.h"
#include "update/GetFilesThr.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {
long PeakMemoryKiB() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string what = argv[1];
    if (what == "digest") {
        TMD5Digest digest;
        DigestFile(argv[2], digest);
        std::printf("%s\n", DigestToHex(digest).c_str());
        return 0;
    }
    if (argc < 4) return 2;
    if (what == "unpack") {
        // The payload is kept: copy it, since unpacking deletes it.
        const std::string copy = std::string(argv[3]) + ".bz2";
        platform::CopyFileReplacing(argv[2], copy);
        UnpackFile(copy, argv[3]);
        return 0;
    }
    testutil::TThreadedWindow window(std::string(argv[3]) + "\\");
    if (what == "download") {
        GFilesThread worker(window);
        return worker.DownloadFile(argv[2], argv[3], true) ? 0 : 1;
    }
    if (what == "update") {
        platform::SetCurrentFolder(argv[3]);
        GFilesThread worker(window);
        worker.BaseURL = argv[2];
        worker.FullCheck = true;
        worker.Execute();
        std::string status;
        window.OnUiThread([&] { status = window.Label3Caption; });
        std::fprintf(stderr, "peak memory %ld KiB, status \"%s\"\n", PeakMemoryKiB(), status.c_str());
        return status == "Обновление неудалось" ? 1 : 0;
    }
    return 2;
}
