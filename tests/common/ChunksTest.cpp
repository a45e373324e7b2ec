// Content-defined chunks, the chunk index and the stored form of a chunk.
#include "support/ChunkIndex.h"
#include "support/LauncherNames.h"
#include "support/Objects.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>
#include <vector>

using namespace testutil;

namespace {

constexpr TChunkParams kSmall{16 << 10, 32 << 10, 64 << 10};

std::vector<TChunkId> Chunks(const std::string& bytes, const TChunkParams& params = kSmall) {
    TempDir dir;
    WriteBytes(dir / "f", bytes);
    platform::File file = platform::File::OpenRead(dir / "f");
    std::vector<TChunkId> ids;
    uint64_t expected = 0;
    ChunkFile(file, params, 2, [&](uint64_t offset, uint32_t size, const TChunkId& id, const uint8_t* data) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), bytes.substr(offset, size));
        EXPECT_EQ(offset, expected);
        EXPECT_LE(size, params.maxSize);
        EXPECT_EQ(id, ChunkIdOf(bytes.data() + offset, size));
        expected += size;
        ids.push_back(id);
    });
    EXPECT_EQ(expected, bytes.size());
    return ids;
}

size_t NewChunks(const std::vector<TChunkId>& before, const std::vector<TChunkId>& after) {
    const std::set<TChunkId> known(before.begin(), before.end());
    size_t fresh = 0;
    for (const TChunkId& id : after) fresh += known.count(id) == 0;
    return fresh;
}

// An index file of the given header and entries, as raw bytes.
std::string IndexBytes(const TChunkIndexHeader& header, const std::vector<TChunkEntry>& entries) {
    std::string bytes = FormatChunkIndexHeader(header);
    for (const TChunkEntry& entry : entries) bytes += FormatChunkEntry(entry);
    return bytes;
}

// The entries an index file reads back as, or the reason it is refused.
std::string ReadBack(const std::string& bytes, std::vector<TChunkEntry>* entries = nullptr) {
    TMemoryStream source(bytes);
    return ErrorOf([&] {
        TChunkIndexReader reader(source);
        for (int pass = 0; pass < 2; ++pass) { // a second pass after a rewind reads the same
            std::vector<TChunkEntry> read;
            for (TChunkEntry entry; reader.Next(entry);) read.push_back(entry);
            if (entries) *entries = read;
            reader.Rewind();
        }
    });
}

} // namespace

TEST(Chunker, AnEditMovesOnlyTheCutsNextToIt) {
    const std::string original = RandomBytes(3 << 20, 11) + std::string(1 << 20, 'x') + RandomBytes(2 << 20, 12);
    const std::vector<TChunkId> before = Chunks(original);
    ASSERT_GT(before.size(), 100u);
    std::string edited = original;
    edited.insert(1 << 20, RandomBytes(5000, 13));   // bytes inserted
    edited.erase(4 << 20, 3000);                       // bytes removed
    edited[5 << 20] ^= 0x55;                           // one byte changed
    edited += RandomBytes(100000, 14);                 // appended
    const std::vector<TChunkId> after = Chunks(edited);
    // Each edit costs a chunk or two; the appended bytes their own few; all the rest is found again.
    EXPECT_LE(NewChunks(before, after), 16u);
    EXPECT_EQ(after.front(), before.front());
    // The same bytes always cut the same way, whatever the buffer and the threads.
    EXPECT_EQ(Chunks(original), before);
    EXPECT_EQ(Chunks(""), std::vector<TChunkId>{});
    EXPECT_EQ(Chunks("tiny").size(), 1u);
}

TEST(ChunkIndex, ReadsWhatWasWrittenAndRefusesEveryBrokenBound) {
    TChunkIndexHeader header;
    header.params = kSmall;
    header.fileSize = (20 << 10) + 100;
    header.chunkCount = 2;
    std::vector<TChunkEntry> entries(2);
    entries[0] = {ChunkIdOf("a", 1), 20 << 10, 300};
    entries[1] = {ChunkIdOf("b", 1), 100, 50};
    std::vector<TChunkEntry> read;
    EXPECT_EQ(ReadBack(IndexBytes(header, entries), &read), "(no error)");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].id, entries[1].id);
    EXPECT_EQ(read[0].size, entries[0].size);
    EXPECT_EQ(read[1].compressedSize, 50u);

    const std::string good = IndexBytes(header, entries);
    const auto broken = [&](auto change) {
        TChunkIndexHeader h = header;
        std::vector<TChunkEntry> e = entries;
        change(h, e);
        return ReadBack(IndexBytes(h, e));
    };
    for (const std::string& refused : {
             ReadBack(good.substr(0, good.size() - 1)),                                   // cut short
             ReadBack(good + "x"),                                                         // trailing bytes
             ReadBack("VANDRCIX" + good.substr(8, 4 + 1)),                                  // no full header
             ReadBack("NOTINDEX" + good.substr(8)),                                         // another file
             broken([](auto& h, auto&) { h.params.maxSize = kMaxChunkBytes + 1; }),       // chunks too large
             broken([](auto& h, auto&) { h.params.minSize = kLeastChunkBytes / 2; }),    // or too small
             broken([](auto& h, auto&) { h.params.avgSize = 20000; }),                    // no power of two
             broken([](auto& h, auto&) { h.chunkCount = 1000000; }),                      // too many for the file
             broken([](auto&, auto& e) { e[1].size = 101; }),                             // sizes do not add up
             broken([](auto&, auto& e) { e[0].size = 1000; }),                            // below the minimum
             broken([](auto&, auto& e) { e[1].compressedSize = 0; }),                     // nothing stored
             broken([](auto&, auto& e) { e[0].compressedSize = MaxCompressedChunkBytes(20 << 10) + 1; }),
         })
        EXPECT_NE(refused.find("not usable"), std::string::npos) << refused;
    std::string otherVersion = good;
    otherVersion[8] = 2;
    EXPECT_NE(ReadBack(otherVersion).find("version"), std::string::npos);
}

TEST(ChunkIndex, AStoredChunkDecodesOnlyToTheChunkItNames) {
    const std::string bytes = RandomBytes(30000, 3) + std::string(30000, 'q');
    const std::string stored = CompressChunk(bytes.data(), bytes.size(), 9);
    const TChunkEntry entry{ChunkIdOf(bytes.data(), bytes.size()), static_cast<uint32_t>(bytes.size()),
                            static_cast<uint32_t>(stored.size())};
    std::string out;
    EXPECT_TRUE(DecodeChunk(stored, entry, &out));
    EXPECT_EQ(out, bytes);
    TChunkEntry wrong = entry;
    wrong.id[0] ^= 1; // another chunk's name
    EXPECT_FALSE(DecodeChunk(stored, wrong, &out));
    wrong = entry;
    wrong.size -= 1; // a chunk of another size
    EXPECT_FALSE(DecodeChunk(stored, wrong, &out));
    EXPECT_FALSE(DecodeChunk(stored + "x", entry, &out));
    EXPECT_FALSE(DecodeChunk("<html>404</html>", entry, &out));
    EXPECT_EQ(names::ChunkStorePath(entry.id), "vandrel-chunks\\" + ChunkIdToHex(entry.id).substr(0, 2) + "\\" +
                                            ChunkIdToHex(entry.id) + ".zst");
}

TEST(ChunkIndex, IdsTheServerChoseToLookAlikeStillSpreadOverATable) {
    // Ids that share their first bytes (all but the last four) land in as many buckets as any others.
    std::unordered_set<TChunkId, TChunkIdHash> ids;
    for (uint32_t i = 0; i < 50000; ++i) {
        TChunkId id{};
        std::memcpy(id.data() + id.size() - sizeof i, &i, sizeof i);
        ids.insert(id);
    }
    size_t longest = 0;
    for (size_t bucket = 0; bucket < ids.bucket_count(); ++bucket) longest = std::max(longest, ids.bucket_size(bucket));
    EXPECT_LE(longest, 12u);
}

// Known answers: the cut, the chunk ids and the index bytes are part of every published set, and
// launchers in the field cut their old files the same way. A change here would make every player fetch
// whole files again: these values must never change (see docs/formats.md).
TEST(ChunkFormat, KnownAnswers) {
    std::string bytes(3 << 20, '\0');
    uint64_t x = 0x5eed;
    for (size_t i = 0; i < bytes.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        // A quarter of each 4 KiB is text-like, the rest noise.
        bytes[i] = static_cast<char>(i % 4096 < 1024 ? 'a' + (x % 4) : (x >> 32));
    }
    const std::vector<uint64_t> ends = {299131,  720656,  1056582, 1379226, 1648909, 1946089,
                                        2291741, 2583128, 2963265, 3047473, 3145728};
    TempDir dir;
    WriteBytes(dir / "f", bytes);
    platform::File file = platform::File::OpenRead(dir / "f");
    std::vector<uint64_t> cut;
    std::vector<std::string> ids;
    ChunkFile(file, kDefaultChunkParams, 2, [&](uint64_t offset, uint32_t size, const TChunkId& id, const uint8_t*) {
        cut.push_back(offset + size);
        ids.push_back(ChunkIdToHex(id));
    });
    EXPECT_EQ(cut, ends);
    ASSERT_GE(ids.size(), 3u);
    EXPECT_EQ(ids[0], "5bdb4afe06a98ba8df5566f12d0568ac58826a90d253a6a93abf3012be31df9a");
    EXPECT_EQ(ids[1], "f6b70e429818e41f987d052cee5b9afecb62d180719afd7a8105f40b621c585f");
    EXPECT_EQ(ids[2], "46eaa4b77e3bd07679ecd6ba98d0e4f2a23d82b45a263626e90bc9c27a877e51");

    TChunkIndexHeader header;
    header.params = kDefaultChunkParams;
    header.fileSize = 300000;
    header.chunkCount = 2;
    header.md5 = [] {
        TMD5Context context;
        context.Update("abc", 3);
        TMD5Digest digest;
        context.Final(digest);
        return digest;
    }();
    const std::string index = IndexBytes(header, {{ChunkIdOf("x", 1), 200000, 1234}, {ChunkIdOf("y", 1), 100000, 99}});
    EXPECT_EQ(index.size(), 144u);
    EXPECT_EQ(Md5Hex(index), "50540ec50198c26ff88203b73e1a10a2");
    EXPECT_EQ(ObjectIdToHex(ObjectIdOf("vandrel", 7)), "333d34af591faf644aefa48cf2cba2728131e3f5cce7b3429c8dd2353fae36c5");
}
