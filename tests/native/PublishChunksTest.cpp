// Publishing large files as chunks (--chunks): the index and the chunks make the file, republishing
// reuses what is there, old chunks stay one revision, names that would collide are refused, and
// --verify finds what a launcher would trip over.
#include "platform/Platform.h"
#include "support/LauncherNames.h"
#include "support/BZip2.h"
#include "support/ChunkIndex.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
#include "tests/server/TestHttpServer.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishCommandLine.h"
#include "tools/publish/PublishVerify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

using namespace testutil;
using publish::PublishSummary;

namespace {

namespace fs = std::filesystem;

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

struct Index {
    TChunkIndexHeader header;
    std::vector<TChunkEntry> entries;
};

Index ReadIndex(const std::string& path) {
    TFileStream source(path, TFileStream::Mode::OpenReadDenyWrite);
    TChunkIndexReader reader(source);
    Index index{reader.Header(), {}};
    for (TChunkEntry entry; reader.Next(entry);) index.entries.push_back(entry);
    return index;
}

std::set<TChunkId> Ids(const Index& index) {
    std::set<TChunkId> ids;
    for (const TChunkEntry& entry : index.entries) ids.insert(entry.id);
    return ids;
}

class ChunkPublishing : public ::testing::Test {
protected:
    ChunkPublishing() {
        options.clientDir = Native(client.Path());
        options.outDir = Native(served.Path());
        options.chunks = true;
        options.chunkMinFile = 1 << 20;
        options.threads = 2;
    }
    void Put(const std::string& relative, const std::string& content) {
        platform::MakeFolders(ExtractFilePath(client / relative));
        WriteBytes(client / relative, content);
    }
    PublishSummary Run() { return publish::Publish(options); }

    // The file the index and the stored chunks make, each chunk checked against its entry.
    std::string Assemble(const Index& index) {
        std::string whole, chunk;
        for (const TChunkEntry& entry : index.entries) {
            EXPECT_TRUE(DecodeChunk(ReadBytes(served / names::ChunkStorePath(entry.id)), entry, &chunk))
                << ChunkIdToHex(entry.id);
            whole += chunk;
        }
        return whole;
    }
    // The chunks in the store, by name.
    std::set<TChunkId> Stored() {
        std::set<TChunkId> ids;
        const fs::path store = Native(served / "vandrel-chunks");
        if (!fs::exists(store)) return ids;
        for (const auto& file : fs::recursive_directory_iterator(store)) {
            if (file.is_directory()) continue;
            TChunkId id{};
            const std::string name = file.path().filename().string();
            EXPECT_EQ(name.size(), 68u) << name;
            for (size_t i = 0; i < 32 && name.size() == 68; ++i)
                id[i] = uint8_t(std::stoi(name.substr(i * 2, 2), nullptr, 16));
            ids.insert(id);
        }
        return ids;
    }
    // Every name in the served folder with its inode and modification time: equal snapshots mean
    // nothing was written, replaced or deleted in between.
    std::map<std::string, std::pair<ino_t, int64_t>> Snapshot() {
        std::map<std::string, std::pair<ino_t, int64_t>> names;
        for (const auto& entry : fs::recursive_directory_iterator(Native(served.Path()))) {
            struct stat info {};
            EXPECT_EQ(stat(entry.path().c_str(), &info), 0);
            const int64_t modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            names[entry.path().string()] = {info.st_ino, modified};
        }
        return names;
    }
    // The digest the published list gives the path.
    std::string ListedDigest(const std::string& path) {
        WriteBytes(scratch / "list.bz2", ReadBytes(served / "files.lst.bz2"));
        UnpackFile(scratch / "list.bz2", scratch / "list");
        TListFile list(scratch / "list");
        for (const char* section : {"files_critical", "files_normal"})
            for (const std::string& line : list.GetSection(section))
                if (line.rfind(path + "|", 0) == 0) return SplitReversed(line, "|")[1];
        return "(not listed)";
    }

    TempDir client, served, scratch;
    publish::PublishOptions options;
};

} // namespace

TEST_F(ChunkPublishing, ALargeFileGetsAnIndexWhoseChunksMakeItAndAnUnchangedRepublishWritesNothing) {
    const std::string big = RandomBytes(5 << 19, 11);
    Put("data\\big.dat", big);
    Put("data\\exact.dat", std::string(1 << 20, 'x')); // exactly the smallest size
    Put("small.txt", std::string((1 << 20) - 1, 'y'));
    Put("readme.txt", "hello");

    PublishSummary first = Run();
    EXPECT_EQ(first.chunkedFiles, 2u);
    EXPECT_EQ(first.chunkIndexesWritten, 2u);
    EXPECT_EQ(first.chunksReused, 0u);
    EXPECT_FALSE(platform::IsFile(served / "small.txt.chunks"));
    EXPECT_FALSE(platform::IsFile(served / "readme.txt.chunks"));

    const Index index = ReadIndex(served / "data\\big.dat.chunks");
    EXPECT_TRUE(index.header.params == kDefaultChunkParams);
    EXPECT_EQ(index.header.fileSize, big.size());
    EXPECT_EQ(DigestToHex(index.header.md5), Md5Hex(big));
    EXPECT_EQ(ListedDigest("data\\big.dat"), Md5Hex(big));
    EXPECT_GT(index.entries.size(), 4u);
    EXPECT_EQ(Assemble(index), big);
    for (const TChunkEntry& entry : index.entries)
        EXPECT_EQ(ReadBytes(served / names::ChunkStorePath(entry.id)).size(), entry.compressedSize);
    const Index exact = ReadIndex(served / "data\\exact.dat.chunks");
    std::set<TChunkId> all = Ids(index);
    for (const TChunkId& id : Ids(exact)) all.insert(id);
    EXPECT_EQ(Stored(), all);
    EXPECT_EQ(first.chunksWritten, all.size());

    const auto before = Snapshot();
    PublishSummary again = Run();
    EXPECT_FALSE(again.listWritten);
    EXPECT_EQ(again.chunksWritten, 0u);
    EXPECT_EQ(again.chunkIndexesWritten, 0u);
    EXPECT_EQ(again.chunksReused, all.size());
    EXPECT_EQ(again.chunkedFiles, 2u);
    EXPECT_EQ(Snapshot(), before);

    platform::RemoveFile(served / names::ChunkStorePath(index.entries[1].id)); // lost from the server
    PublishSummary repaired = Run();
    EXPECT_EQ(repaired.chunksWritten, 1u);
    EXPECT_EQ(Assemble(ReadIndex(served / "data\\big.dat.chunks")), big);
}

TEST_F(ChunkPublishing, AnEditWritesOnlyTheChunksAroundItAndChunksNoLongerNamedGoOneRevisionLater) {
    std::string content = RandomBytes(1200000, 21);
    Put("game.dat", content);
    Run();
    const std::set<TChunkId> first = Ids(ReadIndex(served / "game.dat.chunks"));

    content.replace(content.size() / 2, 4, "edit");
    Put("game.dat", content);
    PublishSummary second = Run();
    const Index index = ReadIndex(served / "game.dat.chunks");
    EXPECT_EQ(Assemble(index), content);
    EXPECT_GE(second.chunksWritten, 1u);
    EXPECT_LE(second.chunksWritten, 2u);
    EXPECT_EQ(second.chunksReused + second.chunksWritten, Ids(index).size());
    std::set<TChunkId> both = first;
    for (const TChunkId& id : Ids(index)) both.insert(id);
    EXPECT_EQ(Stored(), both); // a launcher that has the previous list can still fetch its chunks
    EXPECT_EQ(second.chunksRemoved, 0u);

    content.replace(100, 4, "more");
    Put("game.dat", content);
    PublishSummary third = Run();
    std::set<TChunkId> kept = Ids(index);
    for (const TChunkId& id : Ids(ReadIndex(served / "game.dat.chunks"))) kept.insert(id);
    EXPECT_EQ(Stored(), kept);
    EXPECT_EQ(third.chunksRemoved, both.size() - Ids(index).size());
}

TEST_F(ChunkPublishing, IndexesGoWhenTheirFilesLeaveFallUnderTheSizeOrChunksAreOffAndTheirChunksOneRunLater) {
    Put("a.dat", RandomBytes(1100000, 31));
    Put("b.dat", RandomBytes(1600000, 32));
    Put("maps\\c.dat", RandomBytes(1100000, 33));
    Run();
    const std::set<TChunkId> b = Ids(ReadIndex(served / "b.dat.chunks"));

    options.chunkMinFile = 3 << 19; // a.dat falls under it
    platform::RemoveFile(client / "maps\\c.dat");
    PublishSummary fewer = Run();
    EXPECT_EQ(fewer.chunkedFiles, 1u);
    EXPECT_EQ(fewer.chunkIndexesRemoved, 2u);
    EXPECT_FALSE(platform::IsFile(served / "a.dat.chunks"));
    EXPECT_FALSE(platform::IsFolder(served / "maps")); // payload and index gone, and their folder
    EXPECT_TRUE(platform::IsFile(served / "b.dat.chunks"));

    options.chunks = false;
    PublishSummary off = Run();
    EXPECT_TRUE(off.listWritten); // its objects no longer name an index
    EXPECT_EQ(off.chunkIndexesRemoved, 1u);
    EXPECT_FALSE(platform::IsFile(served / "b.dat.chunks"));
    EXPECT_EQ(Stored(), b); // the previous revision's index named them

    // They go once no list the set keeps names them: the next list that changes.
    Run();
    EXPECT_EQ(Stored(), b);
    Put("d.dat", "a change");
    Run();
    EXPECT_FALSE(platform::IsFolder(served / "vandrel-chunks"));
    std::set<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(Native(served.Path())))
        if (entry.path().lexically_relative(Native(served.Path())).string().compare(0, 15, "vandrel-objects") != 0)
            left.insert(entry.path().lexically_relative(Native(served.Path())).string());
    EXPECT_EQ(left, (std::set<std::string>{"a.dat.bz2", "b.dat.bz2", "d.dat.bz2", "files.lst.bz2"}));
}

TEST_F(ChunkPublishing, NamesThatWouldCollideWithTheChunksAndBadSizesAreRefused) {
    const auto refusal = [&] {
        try {
            Run();
        } catch (const publish::EPublishError& error) {
            return std::string(error.what());
        }
        return std::string("(published)");
    };
    Put("Vandrel-Chunks\\ab\\x.zst", "planted");
    options.chunks = false;
    EXPECT_NE(refusal().find("\"Vandrel-Chunks\\ab\\x.zst\""), std::string::npos);
    options.chunks = true;
    EXPECT_NE(refusal().find("\"Vandrel-Chunks\\ab\\x.zst\""), std::string::npos);
    platform::RemoveFile(client / "Vandrel-Chunks\\ab\\x.zst");

    Put("data", "a file");
    Put("DATA.chunks\\inside.dat", "a file in a folder named as data's index");
    const std::string why = refusal();
    EXPECT_NE(why.find("\"data\""), std::string::npos) << why;
    EXPECT_NE(why.find("folder"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_empty(Native(served.Path())));
    options.chunks = false;
    EXPECT_EQ(refusal(), "(published)"); // without chunks there is no index to collide

    platform::RemoveFile(client / "DATA.chunks\\inside.dat");
    options.chunks = true;
    options.chunkMinFile = (1 << 20) - 1;
    EXPECT_NE(refusal().find("at least 1M"), std::string::npos);

    std::ostringstream out, err;
    const std::string from = Native(client.Path()), to = Native(served.Path());
    EXPECT_EQ(publish::RunCommandLine({from, to, "--chunks", "--chunk-min-file", "1023K"}, out, err, false), 2);
    EXPECT_EQ(publish::RunCommandLine({from, to, "--chunks", "--chunk-min-file=4X"}, out, err, false), 2);
    EXPECT_EQ(publish::RunCommandLine({from, to, "--chunk-min-file", "2M"}, out, err, false), 2);
    EXPECT_NE(err.str().find("--chunk-min-file goes with --chunks"), std::string::npos);
    Put("big.dat", RandomBytes(1 << 20, 41));
    EXPECT_EQ(publish::RunCommandLine({from, to, "--chunks", "--chunk-min-file=1m"}, out, err, false), 0) << err.str();
    const size_t chunks = ReadIndex(served / "big.dat.chunks").entries.size();
    const std::string counts = "(" + std::to_string(chunks) + " chunks written, 0 reused, 0 removed)";
    EXPECT_NE(out.str().find("; 1 files in chunks " + counts), std::string::npos) << out.str();
}

TEST_F(ChunkPublishing, VerifyFindsDamagedAndMissingChunksAndAnIndexForOtherContents) {
    const std::string big = RandomBytes(1200000, 51);
    Put("big.dat", big);
    Put("small.dat", "small");
    Run();
    TestHttpServer server(served.Path());
    publish::VerifyReport report = publish::Verify(server.BaseUrl(), "");
    EXPECT_TRUE(report.problems.empty()) << report.problems[0];

    const Index index = ReadIndex(served / "big.dat.chunks");
    ASSERT_GE(index.entries.size(), 3u);
    const std::string damaged = served / names::ChunkStorePath(index.entries[0].id);
    const std::string sound = ReadBytes(damaged);
    std::string bytes = sound;
    bytes[bytes.size() / 2] ^= 0x20;
    WriteBytes(damaged, bytes);
    platform::RemoveFile(served / names::ChunkStorePath(index.entries[2].id));
    report = publish::Verify(server.BaseUrl(), "");
    ASSERT_EQ(report.problems.size(), 2u);
    for (const std::string& problem : report.problems) {
        EXPECT_NE(problem.find(" big.dat: chunk "), std::string::npos) << problem;
    }
    EXPECT_NE(report.problems[0].find(ChunkIdToHex(index.entries[0].id)), std::string::npos) << report.problems[0];
    EXPECT_NE(report.problems[1].find(ChunkIdToHex(index.entries[2].id)), std::string::npos) << report.problems[1];

    TChunkIndexHeader other = index.header;
    other.md5.v[0] ^= 1;
    std::string text = FormatChunkIndexHeader(other);
    for (const TChunkEntry& entry : index.entries) text += FormatChunkEntry(entry);
    WriteBytes(served / "big.dat.chunks", text);
    report = publish::Verify(server.BaseUrl(), "");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find(" big.dat: its chunk index"), std::string::npos) << report.problems[0];
    EXPECT_NE(report.problems[0].find("other contents"), std::string::npos) << report.problems[0];

    // Chunks that each decode to their names but do not make the listed file (another file's, under
    // this file's MD5), and an answer that is no index at all.
    Put("big.dat", RandomBytes(big.size(), 52));
    Run();
    Index swapped = ReadIndex(served / "big.dat.chunks");
    Put("big.dat", big);
    Run(); // the other file's chunks stay one revision
    swapped.header.md5 = ReadIndex(served / "big.dat.chunks").header.md5;
    text = FormatChunkIndexHeader(swapped.header);
    for (const TChunkEntry& entry : swapped.entries) text += FormatChunkEntry(entry);
    WriteBytes(served / "big.dat.chunks", text);
    report = publish::Verify(server.BaseUrl(), "");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("make a file of MD5"), std::string::npos) << report.problems[0];
    WriteBytes(served / "big.dat.chunks", "<html>an error page served with 200</html>");
    report = publish::Verify(server.BaseUrl(), "");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("is no chunk index"), std::string::npos) << report.problems[0];
}
