// Large files from chunks: what a player's old file lends, what is fetched, and every way a set, a
// chunk or a connection can go wrong; payloads that go on where a cut run stopped.
#include "support/ChunkIndex.h"
#include "support/LauncherNames.h"
#include "support/Hex.h"
#include "support/ListSignature.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/PublishSigning.h"

#include <algorithm>

using namespace testutil;

namespace {

const std::string kFailed = "Обновление неудалось";
const std::string kDone = "Все файлы обновлены";

class DeltaInstall : public UpdateFixture {
protected:
    DeltaInstall() {
        // An archive of text-like records and blobs; the new version has an insertion, an edit and more
        // at the end.
        for (int i = 0; i < 40; ++i) old += RandomBytes(40000, i) + std::string(40000, char('a' + i % 26));
        fresh = old;
        fresh.insert(700000, "a record inserted by the new version");
        fresh[2000000] ^= 0x20;
        fresh += RandomBytes(150000, 99);
        platform::MakeFolders(Local("data"));
        WriteBytes(Local("data\\archive.pak"), old);
    }

    // The set with the new version: its payload, its chunk index and its chunks.
    void PublishChunked(const std::string& content, const std::string& indexedContent = std::string()) {
        Publish({{"data\\archive.pak", content}});
        chunks = ServeChunks(served.Path(), "data\\archive.pak", content, indexedContent);
    }

    std::vector<std::string> Requests(const std::string& prefix) const {
        std::vector<std::string> matching;
        for (const std::string& request : server.Requests())
            if (request.compare(0, prefix.size(), prefix) == 0) matching.push_back(request);
        return matching;
    }
    // Nothing of the run is left beside the file, and the old one is there as it was.
    void ExpectOldFileIntact() {
        EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), old);
        EXPECT_FALSE(platform::IsFile(Local("data\\archive.pak.~up")));
        EXPECT_FALSE(platform::IsFile(Local("data\\archive.pak.bz2")));
    }

    std::string old, fresh;
    std::vector<std::string> chunks; // the chunks' URL paths, in file order
};

} // namespace

TEST_F(DeltaInstall, AnOldFileLendsItsChunksAndOnlyTheOthersAreFetched) {
    PublishChunked(fresh);
    RunUpdate(true, 1);
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(ReadBytes(Local("backup\\data\\archive.pak")), old);
    // The window shows what it shows for any file.
    EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), "Загрузка data\\archive.pak"), 1);
    EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), "Извлечение data\\archive.pak"), 1);
    EXPECT_TRUE(Requests("data/archive.pak.bz2").empty());
    EXPECT_EQ(Requests("data/archive.pak.chunks").size(), 1u);
    const size_t fetched = Requests("vandrel-chunks/").size();
    EXPECT_GE(fetched, 2u);
    EXPECT_LE(fetched, 5u) << "of " << chunks.size();
    EXPECT_FALSE(platform::IsFolder(Local("~vandrel-ahead")));

    // A damaged old file still ends as the new one: it lends what it still has.
    std::string damaged = old;
    for (size_t at = 100000; at < damaged.size(); at += 300000) damaged[at] ^= 1;
    WriteBytes(Local("data\\archive.pak"), damaged);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
}

TEST_F(DeltaInstall, WithoutAUsableIndexThePayloadIsFetchedAsAlways) {
    // No index on the server (an error page), then one that belongs to another version of the file, then
    // one whose chunks each come as named but do not make the file the list names.
    Publish({{"data\\archive.pak", fresh}});
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(Requests("data/archive.pak.bz2").size(), 1u);

    WriteBytes(Local("data\\archive.pak"), old);
    PublishChunked(fresh, "another version");
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(Requests("data/archive.pak.bz2").size(), 1u);
    EXPECT_TRUE(Requests("vandrel-chunks/").empty());

    WriteBytes(Local("data\\archive.pak"), old);
    Publish({{"data\\archive.pak", fresh}});
    ServeChunks(served.Path(), "data\\archive.pak", old, fresh); // the old file's chunks under the new one's MD5
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(Requests("data/archive.pak.bz2").size(), 1u);
}

TEST_F(DeltaInstall, AnyChunkFaultFetchesThePayloadInTheSameRunAndDropsTheIndex) {
    PublishChunked(fresh);
    const std::vector<std::string> all = chunks;
    const std::string inserted = all.back(); // a chunk the old file lacks (the appended bytes)
    const std::vector<std::pair<std::string, std::function<void()>>> faults = {
        {"missing", [&] { server.Misbehave(inserted, TestHttpServer::Misbehaviour::ErrorPage); }},
        {"another chunk's bytes",
         [&] { server.Misbehave(inserted, TestHttpServer::Misbehaviour::WrongBody, ReadBytes(served / all[0])); }},
        {"endless", [&] { server.Misbehave(inserted, TestHttpServer::Misbehaviour::Endless); }},
        {"cut", [&] { server.Misbehave(inserted, TestHttpServer::Misbehaviour::CutBody); }},
    };
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        WriteBytes(Local("data\\archive.pak"), old);
        fault();
        server.ClearRequests();
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kDone);
        EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
        EXPECT_EQ(Requests("data/archive.pak.bz2").size(), 1u);
        EXPECT_FALSE(platform::IsFolder(Local("~vandrel-ahead")));
        server.Behave(inserted);
    }
    // The index is not used again after a fault: a run that is cut off while fetching the payload
    // asks for the index afresh next time.
    WriteBytes(Local("data\\archive.pak"), old);
    server.Misbehave(inserted, TestHttpServer::Misbehaviour::ErrorPage);
    server.Misbehave("data/archive.pak.bz2", TestHttpServer::Misbehaviour::CutOnce);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    ExpectOldFileIntact();
    server.Behave(inserted);
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(Requests("data/archive.pak.chunks").size(), 1u);
}

TEST_F(DeltaInstall, ASignedSetWithATamperedChunkTakesThePayload) {
    TListPublicKey publicKey{};
    TListSecretKey secretKey{};
    GenerateListKeyPair(&publicKey, &secretKey);
    PublishChunked(fresh);
    publish::WriteListSignature(served.Path(), secretKey);
    beforeRun = [&](GFilesThread& worker) { worker.ListPublicKey = ToHex(publicKey.data(), publicKey.size()); };
    // Another chunk's bytes under the name of one the old file lacks: never used.
    WriteBytes(served / chunks.back(), ReadBytes(served / chunks[0]));
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_EQ(Requests("data/archive.pak.bz2").size(), 1u);
}

TEST_F(DeltaInstall, AListDigestInUpperCaseStillTakesTheChunks) {
    PublishChunked(fresh);
    std::string digest = Md5Hex(fresh);
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    PublishList("[settings]\nRev|8\nModHosts|0\n[/settings]\n[files_normal]\ndata\\archive.pak|" + digest + "|" +
                std::to_string(ReadBytes(served / "data\\archive.pak.bz2").size()) + "\n[/files_normal]\n");
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("data\\archive.pak")), fresh);
    EXPECT_TRUE(Requests("data/archive.pak.bz2").empty());
    EXPECT_FALSE(Requests("vandrel-chunks/").empty());
}

TEST_F(DeltaInstall, AFullDiskEndsTheRunWithNothingOfItLeftBehind) {
    // The chunks fit, the assembled file does not; nor does the payload fetched in its place.
    PublishChunked(fresh);
    {
        DiskFullAfter full(fresh.size() / 2);
        RunUpdate();
    }
    EXPECT_EQ(ClosingStatus(), kFailed);
    ExpectOldFileIntact();
    EXPECT_FALSE(platform::IsFolder(Local(names::kStagingFolder)));
}
