#include "platform/Errors.h"
#include "support/Download.h"
#include "tests/native/UpdateFixture.h"


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
    // A disk that is full after 500 bytes: the last short buffer, and full buffers written mid-body.
    for (size_t size : {1000, 2 << 20}) {
        WriteBytes(served / "a", RandomBytes(size, 8));
        DiskFullAfter full(500);
        EXPECT_THROW(Fetch(server.BaseUrl() + "a", Local("a")), EInOutError);
    }
}

TEST_F(Download, AResumablePartIsBoundedByItsPayloadAndNeverReadOrWrittenThroughALink) {
    const std::string body = RandomBytes(400000, 10);
    WriteBytes(served / "p.bz2", body);
    const std::string url = server.BaseUrl() + "p.bz2";
    const platform::OwnName partName{client.Path(), "part"};
    const std::string part = partName.Path(), tag = part + ".tag";
    const auto resume = [&](int64_t bound) { return DownloadResumable(url, partName, {}, bound); };

    // A server that names its body and cuts it every time: the part grows only up to the payload's
    // size, and a body longer than that is refused with nothing kept.
    server.Misbehave("p.bz2", TestHttpServer::Misbehaviour::CutBody);
    EXPECT_EQ(resume(body.size()), TDownloadResult::Cut);
    EXPECT_EQ(ReadBytes(part).size(), body.size() / 2);
    EXPECT_EQ(resume(100000), TDownloadResult::TooLarge);
    EXPECT_FALSE(platform::IsFile(part));
    EXPECT_FALSE(platform::IsFile(tag));
    // A part as long as the payload, or longer, is no cut part of it: the whole body comes again.
    server.Behave("p.bz2");
    WriteBytes(part, RandomBytes(500000, 11));
    WriteBytes(tag, "\"x\"");
    EXPECT_EQ(resume(body.size()), TDownloadResult::Complete);
    EXPECT_EQ(ReadBytes(part), body);

    // A validator is used only as a short printable line: one holding CR LF would add a header of its
    // own to the request, so the part starts over and the whole body is sent again.
    const auto cutPart = [&] {
        platform::RemoveFile(part);
        server.Misbehave("p.bz2", TestHttpServer::Misbehaviour::CutOnce);
        EXPECT_EQ(resume(body.size()), TDownloadResult::Cut);
        ASSERT_TRUE(platform::IsFile(tag));
    };
    cutPart();
    WriteBytes(tag, ReadBytes(tag) + "\r\nX-Injected: 1");
    uint64_t before = server.BytesSent();
    EXPECT_EQ(resume(body.size()), TDownloadResult::Complete);
    EXPECT_EQ(server.BytesSent() - before, body.size());
    EXPECT_EQ(ReadBytes(part), body);
    cutPart();
    before = server.BytesSent();
    EXPECT_EQ(resume(body.size()), TDownloadResult::Complete); // the same part with its own tag goes on
    EXPECT_EQ(server.BytesSent() - before, body.size() - body.size() / 2);

    // A server that has no such range (416) is asked for the whole body.
    cutPart();
    WriteBytes(part, body + "x");
    EXPECT_EQ(resume(0), TDownloadResult::Complete);
    EXPECT_EQ(ReadBytes(part), body);

    // Links planted on the part or on its validator are never followed: what they point at stays as it
    // was, and the part starts over as a file of its own.
    TempDir outside;
    WriteBytes(outside / "victim", "do not touch");
    for (const std::string& name : {part, tag}) {
        cutPart();
        platform::RemoveFile(name);
        ASSERT_TRUE(MakeSymbolicLink(outside / "victim", name));
        EXPECT_EQ(resume(body.size()), TDownloadResult::Complete);
        EXPECT_EQ(ReadBytes(outside / "victim"), "do not touch");
        EXPECT_EQ(ReadBytes(part), body);
        EXPECT_FALSE(platform::IsLink(part));
    }

    // A disk that fills up takes the part and its validator with it.
    cutPart();
    {
        DiskFullAfter full(body.size() / 2 + 1000);
        EXPECT_THROW((void)resume(0), EInOutError);
    }
    EXPECT_FALSE(platform::IsFile(part));
    EXPECT_FALSE(platform::IsFile(tag));
}

TEST_F(Download, APayloadCutShortIsTakenUpWhereItBrokeOffByTheNextRun) {
    const std::string kFailed = "Обновление неудалось", kDone = "Все файлы обновлены";
    // A file new to the player: its payload alone, large enough to be cut in the middle.
    const std::string fresh = RandomBytes(1000000, 41) + std::string(1500000, 'r');
    platform::MakeFolders(Local("data"));
    Publish({{"data\\archive.pak", fresh}});
    const uint64_t payload = ReadBytes(served / "data\\archive.pak.bz2").size();
    for (unsigned connections : {0u, 8u}) {
        SCOPED_TRACE(connections);
        beforeRun = [connections](GFilesThread& worker) { worker.AheadConnections = connections; };
        platform::RemoveFile(Local("data\\archive.pak"));
        server.Misbehave("data/archive.pak.bz2", TestHttpServer::Misbehaviour::CutOnce);
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kFailed);
        EXPECT_FALSE(platform::IsFile(Local("data\\archive.pak")));
        const uint64_t before = server.BytesSent();
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kDone);
        EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
        EXPECT_LE(server.BytesSent() - before, payload / 2 + 70000); // the rest, and the list
        EXPECT_FALSE(platform::IsFolder(Local("~vandrel-ahead")));
    }
    // A server that answers a request for the rest with the whole body gets it written from the start.
    platform::RemoveFile(Local("data\\archive.pak"));
    server.Misbehave("data/archive.pak.bz2", TestHttpServer::Misbehaviour::CutOnce);
    RunUpdate();
    server.Misbehave("data/archive.pak.bz2", TestHttpServer::Misbehaviour::IgnoresRange);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
}
