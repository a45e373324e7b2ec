#include "platform/Errors.h"
#include "tests/native/UpdateFixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace testutil;

namespace {
class Download : public UpdateFixture {
protected:
    bool Fetch(const std::string& url, const std::string& local) {
        GFilesThread worker(window, window.Folder());
        bool ok = worker.DownloadFile(url, local, true);
        EXPECT_EQ(worker.Progress, 0);
        return ok;
    }
};
} // namespace

TEST_F(Download, WritesWhateverBodyTheServerSends) {
    const std::string body = RandomBytes(300000, 5);
    WriteBytes(served / "big.bin", body);
    GFilesThread worker(window, window.Folder());
    worker.TargetGauge = 0;
    worker.Progress = static_cast<int32_t>(body.size());
    worker.SetGaugeMax();
    EXPECT_TRUE(worker.DownloadFile(server.BaseUrl() + "big.bin", Local("big.bin"), true));
    EXPECT_EQ(ReadBytes(Local("big.bin")), body);
    EXPECT_EQ(window.Gauge1.Progress(), 0);

    WriteBytes(served / "empty", "");
    EXPECT_TRUE(Fetch(server.BaseUrl() + "empty", Local("empty")));
    EXPECT_EQ(ReadBytes(Local("empty")), "");

    EXPECT_TRUE(Fetch(server.BaseUrl() + "missing", Local("page")));
    EXPECT_NE(ReadBytes(Local("page")).find("Not Found"), std::string::npos);
}

TEST_F(Download, AUrlThatCannotBeOpenedLeavesTheLocalFileAlone) {
    WriteBytes(Local("keep"), "existing");
    EXPECT_FALSE(Fetch("http://no-such-host.invalid/x", Local("keep")));
    EXPECT_FALSE(Fetch("http://127.0.0.1:1/x", Local("keep")));
    EXPECT_EQ(ReadBytes(Local("keep")), "existing");
}

TEST_F(Download, ABodyCutShortOrStalledIsNoDownload) {
    // Cut inside the first buffer, and after several full buffers went to disk.
    for (size_t size : {200000, 2000000}) {
        WriteBytes(served / "cut", RandomBytes(size, 6));
        server.Misbehave("cut", TestHttpServer::Misbehaviour::CutBody);
        EXPECT_FALSE(Fetch(server.BaseUrl() + "cut", Local("cut")));
        EXPECT_FALSE(platform::IsFile(Local("cut")));
    }

    WriteBytes(served / "stall", RandomBytes(200000, 7));
    server.Misbehave("stall", TestHttpServer::Misbehaviour::Stall);
    EXPECT_FALSE(Fetch(server.BaseUrl() + "stall", Local("stall")));
    EXPECT_FALSE(platform::IsFile(Local("stall")));
}

TEST_F(Download, ASlowButSteadyServerIsNotTakenForAStalledOne) {
    // 4 KiB every 200 ms for 3.2 s, beyond the 2-second stall limit: its bytes count as they come,
    // though they never make a large piece in time.
    const std::string body = RandomBytes(64 * 1024, 9);
    WriteBytes(served / "slow", body);
    server.Misbehave("slow", TestHttpServer::Misbehaviour::Trickle);
    EXPECT_TRUE(Fetch(server.BaseUrl() + "slow", Local("slow")));
    EXPECT_EQ(ReadBytes(Local("slow")), body);
}

TEST_F(Download, ALocalFileThatCannotBeCreatedRaisesTheInputOutputError) {
    WriteBytes(served / "a", "x");
    EXPECT_THROW(Fetch(server.BaseUrl() + "a", Local("no-such-folder\\a")), EInOutError);
}

TEST_F(Download, AFailedWriteRaisesTheInputOutputError) {
    // A disk that is full after 500 bytes (a file-size limit, its signal ignored): the last short
    // buffer, and full buffers written mid-body.
    for (size_t size : {1000, 2 << 20}) {
        WriteBytes(served / "a", RandomBytes(size, 8));
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit full = old;
        full.rlim_cur = 500;
        auto previous = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &full);
        EXPECT_THROW(Fetch(server.BaseUrl() + "a", Local("a")), EInOutError);
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, previous);
    }
}
