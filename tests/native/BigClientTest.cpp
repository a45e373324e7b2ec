// Big game clients: sizes past 2 GiB scaled into the gauges, a per-file gauge that moves whatever the
// work, and fresh installs from chunks that fall back to the payload on any fault.
#include "support/ChunkIndex.h"
#include "support/Misc.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/Publish.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

using namespace testutil;

namespace {

const std::string kDone = "Все файлы обновлены";

class BigClient : public UpdateFixture {
protected:
    BigClient() {
        beforeRun = [](GFilesThread& worker) { worker.RetryPolicy.firstPauseMs = 10; };
    }
};

size_t Starting(const std::vector<std::string>& requests, const std::string& prefix) {
    return std::count_if(requests.begin(), requests.end(),
                         [&](const std::string& request) { return request.compare(0, prefix.size(), prefix) == 0; });
}

} // namespace

TEST_F(BigClient, SizesPastTwoGibibytesAreScaledIntoTheFileGauge) {
    // The size field is the gauge's maximum while a payload downloads: past 2^31 - 1 it is halved until
    // it fits, and the run goes on as for any other size.
    std::string list = "[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\n";
    const std::vector<std::pair<std::string, int64_t>> sizes = {
        {"a", 2147483647LL}, {"b", 2147483648LL}, {"c", 4294967297LL}};
    for (const auto& [name, size] : sizes) {
        PublishPayload(name, "contents of " + name);
        list += name + "|" + Md5Hex("contents of " + name) + "|" + std::to_string(size) + "\n";
    }
    PublishList(list + "[/files_normal]\n");
    std::vector<int32_t> maxima;
    window.onGaugeMax = [&](int32_t target, int32_t value) {
        if (target == 0 && value > (1 << 20)) maxima.push_back(value);
    };
    beforeRun = [](GFilesThread& worker) {
        worker.AheadConnections = 0;
        worker.RetryPolicy.firstPauseMs = 10;
    };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    for (const auto& [name, size] : sizes) EXPECT_EQ(ReadBytes(Local(name)), "contents of " + name);
    EXPECT_EQ(maxima, (std::vector<int32_t>{2147483647, 1073741824, 1073741824}));
}

TEST_F(BigClient, TheFileGaugeMovesWhileTheEntryShownIsFetchedAhead) {
    // 64 KiB at 4 KiB every 200 ms: over three seconds of download, all of it ahead of the entry's turn.
    const std::string content = RandomBytes(64 << 10, 5);
    Publish({{"slow.pak", content}});
    server.Misbehave("slow.pak.bz2", TestHttpServer::Misbehaviour::Trickle);
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<Clock::time_point, int32_t>> moves;
    bool shown = false;
    window.onStatus = [&](const std::string& status) { shown = status == "Загрузка slow.pak"; };
    window.onFileProgress = [&](int32_t value) {
        if (shown && value > 0) moves.emplace_back(Clock::now(), value);
    };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("slow.pak")), content);
    ASSERT_GE(moves.size(), 4u);
    for (size_t i = 1; i < moves.size(); ++i) {
        EXPECT_GT(moves[i].second, moves[i - 1].second);
        EXPECT_LE(moves[i].first - moves[i - 1].first, std::chrono::milliseconds(1300));
    }
}

TEST_F(BigClient, AFreshInstallTakesTheChunksAndEveryFaultFallsToThePayloadInTheSameRun) {
    // Incompressible bytes: their chunks cost about what the payload does, a little less.
    TempDir source;
    const std::string content = RandomBytes(3 << 20, 6);
    WriteBytes(source / "data.pak", content);
    publish::PublishOptions options;
    options.clientDir = ReplaceAll(source.Path(), "\\", "/");
    options.outDir = served.Path();
    options.chunks = true;
    options.chunkMinFile = 1 << 20;
    publish::Publish(options);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data.pak")), content);
    EXPECT_GE(Starting(server.Requests(), "vandrel-chunks/"), 8u);
    EXPECT_EQ(Starting(server.Requests(), "vandrel-objects/") , 1u) << "the index alone";
    EXPECT_FALSE(platform::IsFolder(Local("~vandrel-ahead")));

    std::vector<std::string> chunks;
    for (const std::string& request : server.Requests())
        if (request.compare(0, 15, "vandrel-chunks/") == 0) chunks.push_back(request);
    for (const auto fault : {TestHttpServer::Misbehaviour::ErrorPage, TestHttpServer::Misbehaviour::WrongBody,
                             TestHttpServer::Misbehaviour::CutBody}) {
        platform::RemoveFile(Local("data.pak"));
        server.Misbehave(chunks[3], fault, "not the chunk");
        server.ClearRequests();
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kDone);
        EXPECT_EQ(ReadBytes(Local("data.pak")), content);
        EXPECT_EQ(Starting(server.Requests(), "vandrel-objects/"), 2u) << "the index, then the payload";
        EXPECT_FALSE(platform::IsFolder(Local("~vandrel-ahead")));
        server.Behave(chunks[3]);
    }
}
