// A large payload's blocks decoded on several threads: the same bytes, digest, progress and errors as
// one decoder over the whole stream, whatever the payload holds.
#include "support/BZip2Parallel.h"
#include "support/BZip2.h"
#include "support/BZip2Blocks.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"
#include "tools/publish/PublishCompress.h"

#include <gtest/gtest.h>

#include <typeinfo>

using namespace testutil;

namespace {

struct TProgressLog : UnpackObserver {
    std::vector<int64_t> positions;
    int finished = 0;
    int64_t breakAt = -1; // the number of reports after which the unpack is broken off
    void UnpackStarted(TStream&) override {}
    void UnpackProgress(int64_t consumed) override {
        positions.push_back(consumed);
        if (static_cast<int64_t>(positions.size()) == breakAt) throw std::runtime_error("cancelled");
    }
    void UnpackFinished() override { ++finished; }
};

// Everything an unpack leaves behind.
struct TOutcome {
    std::string bytes;
    std::string digest;
    std::string error; // type and message, empty after success
    std::vector<int64_t> positions;

    bool operator==(const TOutcome& other) const {
        return bytes == other.bytes && digest == other.digest && error == other.error;
    }
};

std::ostream& operator<<(std::ostream& out, const TOutcome& outcome) {
    return out << outcome.bytes.size() << " bytes, digest " << outcome.digest << ", "
               << (outcome.error.empty() ? "no error" : outcome.error);
}

TOutcome Unpack(unsigned threads, const std::string& payload, int64_t maxOutputBytes = 0) {
    TMemoryStream source(payload), target;
    TMD5Context context;
    TProgressLog log;
    TOutcome outcome;
    try {
        UnpackStreamOn(threads, source, target, &log, &context, maxOutputBytes);
    } catch (const std::exception& error) {
        outcome.error = std::string(typeid(error).name()) + ": " + error.what();
    }
    TMD5Digest digest;
    context.Final(digest);
    outcome.bytes = target.Bytes();
    outcome.digest = DigestToHex(digest);
    outcome.positions = log.positions;
    EXPECT_EQ(log.finished, 1);
    return outcome;
}

// Text that compresses about as well as a game's scripts.
std::string Text(size_t size, uint32_t seed) {
    static const char* const words[] = {"spawn", "guard", "merchant", "wave", "local",
                                        "npc",   "(",     ")",        "\n",   " "};
    std::string text, noise = RandomBytes(size, seed);
    for (size_t i = 0; text.size() < size; ++i) text += words[static_cast<unsigned char>(noise[i]) % 10];
    text.resize(size);
    return text;
}

// Random bytes from a set whose bitmap in a block's header spells both magics: every block of it
// carries a block magic and an end magic where no block starts or ends.
std::string BytesSpellingMagics(size_t size, uint32_t seed) {
    std::vector<unsigned char> values;
    const uint16_t words[] = {0x1772, 0x4538, 0x5090, 0x3141, 0x5926, 0x5359}; // groups 2 to 7
    for (int group = 0; group < 6; ++group)
        for (int bit = 0; bit < 16; ++bit)
            if (words[group] & (0x8000 >> bit))
                values.push_back(static_cast<unsigned char>((group + 2) * 16 + bit));
    std::string bytes = RandomBytes(size, seed);
    for (char& c : bytes) c = static_cast<char>(values[static_cast<unsigned char>(c) % values.size()]);
    return bytes;
}

std::vector<bzblocks::TMagic> MagicsOf(const std::string& payload) {
    std::vector<bzblocks::TMagic> found;
    bzblocks::TMagicScanner().Scan(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(),
                                   true, found);
    return found;
}

std::string FlipBit(std::string bytes, int64_t bit) {
    bytes[static_cast<size_t>(bit / 8)] ^= static_cast<char>(0x80 >> (bit % 8));
    return bytes;
}

// The bytes with count zero bits put in before the given bit.
std::string InsertBits(const std::string& bytes, int64_t at, int count) {
    std::vector<bool> bits;
    for (int64_t bit = 0; bit < static_cast<int64_t>(bytes.size()) * 8; ++bit) {
        if (bit == at) bits.insert(bits.end(), static_cast<size_t>(count), false);
        bits.push_back((bytes[static_cast<size_t>(bit / 8)] >> (7 - bit % 8)) & 1);
    }
    std::string out((bits.size() + 7) / 8, '\0');
    for (size_t bit = 0; bit < bits.size(); ++bit)
        if (bits[bit]) out[bit / 8] |= static_cast<char>(0x80 >> (bit % 8));
    return out;
}

// One stream whose blocks are the given pieces, as the publisher joins them.
std::string Joined(const std::vector<std::string>& pieces) {
    TMemoryStream target;
    publish::TBZBlockJoiner joiner(target);
    for (const std::string& piece : pieces)
        for (const std::string& stream : publish::CompressPiece(piece.data(), piece.size()))
            joiner.Add(stream);
    joiner.Finish();
    return target.Bytes();
}

// The block decoding alone: whether it vouched for the whole stream, and what it handed over.
struct TPieces : TBlockSink {
    std::string bytes;
    bool shortPiece = false; // a piece shorter than 64 KiB came before another
    void Piece(const char* piece, int32_t size) override {
        if (shortPiece) ADD_FAILURE() << "a piece after a short one";
        shortPiece = size < 65536;
        bytes.append(piece, static_cast<size_t>(size));
    }
    void Consumed(int64_t) override {}
};

void ExpectDecodedByBlocks(const std::string& payload, const std::string& data) {
    for (unsigned threads : {1u, 2u, 3u}) {
        TMemoryStream source(payload);
        TPieces pieces;
        EXPECT_TRUE(UnpackBlocks(source, threads, 65536, pieces)) << threads;
        EXPECT_TRUE(pieces.bytes == data) << threads;
    }
}

void ExpectSameAsOneDecoder(const std::string& payload, int64_t maxOutputBytes = 0) {
    const TOutcome single = Unpack(0, payload, maxOutputBytes);
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        const TOutcome blocks = Unpack(threads, payload, maxOutputBytes);
        EXPECT_EQ(blocks, single);
        EXPECT_TRUE(std::is_sorted(blocks.positions.begin(), blocks.positions.end()));
        if (single.error.empty() && !payload.empty()) {
            ASSERT_FALSE(blocks.positions.empty());
            EXPECT_EQ(blocks.positions.back(), static_cast<int64_t>(payload.size()));
        }
    }
}

} // namespace

TEST(BZip2Blocks, FindsBothMagicsAtEveryBitPositionAcrossPieces) {
    const uint64_t magics[] = {bzblocks::kBlockMagic, bzblocks::kEndMagic};
    for (int shift = 0; shift < 8; ++shift) {
        SCOPED_TRACE(shift);
        // A block magic at bit 40 + shift and an end magic 100 bits later, in noise without magics.
        std::string bytes = RandomBytes(40, 11);
        for (int m = 0; m < 2; ++m) {
            const int64_t at = 40 + shift + 100 * m;
            for (int i = 0; i < 48; ++i) {
                const int64_t bit = at + i;
                const char mask = static_cast<char>(0x80 >> (bit % 8));
                const bool one = (magics[m] >> (47 - i)) & 1;
                bytes[static_cast<size_t>(bit / 8)] =
                    static_cast<char>(one ? bytes[bit / 8] | mask : bytes[bit / 8] & ~mask);
            }
        }
        // Handed over in pieces of every size, the scanner finds each magic once.
        for (size_t piece : {size_t(1), size_t(3), size_t(7), bytes.size()}) {
            bzblocks::TMagicScanner scanner;
            std::vector<bzblocks::TMagic> found;
            for (size_t at = 0; at < bytes.size(); at += piece) {
                const size_t count = std::min(piece, bytes.size() - at);
                scanner.Scan(reinterpret_cast<const unsigned char*>(bytes.data() + at), count,
                             at + count == bytes.size(), found);
            }
            ASSERT_EQ(found.size(), 2u) << piece;
            EXPECT_EQ(found[0].bit, 40 + shift);
            EXPECT_FALSE(found[0].end);
            EXPECT_EQ(found[1].bit, 140 + shift);
            EXPECT_TRUE(found[1].end);
        }
        // A magic cut by the end of the bytes is no magic.
        EXPECT_EQ(MagicsOf(bytes.substr(0, static_cast<size_t>((140 + shift + 47) / 8))).size(), 1u);
    }
}

TEST(BZip2Parallel, UnpacksEveryBlockCountAndEdgeAsOneDecoderDoes) {
    // Level 1 holds 99,981 bytes without runs per block.
    const std::string mixed =
        RandomBytes(400000, 1) + Text(600000, 2) + std::string(300000, 'x') + RandomBytes(99981, 3);
    const std::vector<std::string> data = {
        "",                    // no block at all
        RandomBytes(99981, 4), // exactly one full block
        RandomBytes(99982, 5), // one byte into a second block
        Text(65536 * 3, 6),    // output ending on a piece's end
        mixed,                 // many blocks of every kind
    };
    for (const std::string& bytes : data) {
        SCOPED_TRACE(bytes.size());
        ExpectDecodedByBlocks(Compress(bytes, 1), bytes);
        ExpectSameAsOneDecoder(Compress(bytes, 1));
    }
    ExpectDecodedByBlocks(Compress(mixed, 9), mixed); // two large blocks
    // Blocks of about 5 MiB each from a few bytes: more output than later blocks may hold.
    const std::string zeros(20 << 20, '\0');
    ExpectDecodedByBlocks(Compress(zeros, 1), zeros);
    // Blocks that end where pieces end, as the publisher joins them.
    const std::vector<std::string> pieces = {RandomBytes(65536, 7), Text(65536, 8), RandomBytes(3 * 65536, 9),
                                             "tail"};
    ExpectDecodedByBlocks(Joined(pieces), pieces[0] + pieces[1] + pieces[2] + pieces[3]);
}

TEST(BZip2Parallel, FollowsBlocksPastMagicsInsideCompressedData) {
    // Seven blocks at level 1, each with a chance block magic and a chance end magic besides its own.
    const std::string data = BytesSpellingMagics(699000, 12);
    const std::string payload = Compress(data, 1);
    const std::vector<bzblocks::TMagic> magics = MagicsOf(payload);
    EXPECT_EQ(std::count_if(magics.begin(), magics.end(), [](auto& m) { return !m.end; }), 14);
    EXPECT_EQ(std::count_if(magics.begin(), magics.end(), [](auto& m) { return m.end; }), 8);
    ExpectDecodedByBlocks(payload, data);
    ExpectSameAsOneDecoder(payload);
}

TEST(BZip2Parallel, DamagedStreamsEndExactlyAsWithOneDecoder) {
    const std::string data =
        RandomBytes(120000, 20) + Text(200000, 21) + std::string(60000, 'q') + RandomBytes(100000, 22);
    const std::string payload = Compress(data, 1);
    const std::vector<bzblocks::TMagic> magics = MagicsOf(payload);
    ASSERT_TRUE(magics.back().end);
    const int64_t endBit = magics.back().bit;
    const std::string falseMagics = Compress(BytesSpellingMagics(400000, 23), 1);
    const std::string pieces = Joined({RandomBytes(65536, 24), RandomBytes(65536, 25), Text(100000, 26)});

    std::vector<std::string> corpus = {
        "",
        "BZh9",
        "BZh0",
        "<html><body>404 Not Found</body></html>",
        RandomBytes(300000, 27),
        "BZh9" + RandomBytes(300000, 28),
        payload + "x",     // trailing garbage
        payload + payload, // a second stream
        payload + std::string(3, '\0'),
        FlipBit(payload, endBit + 48 + 5),        // the combined CRC
        FlipBit(payload, endBit + 3),             // the end magic
        FlipBit(payload, magics[2].bit + 48 + 7), // a block CRC
        FlipBit(payload, magics[2].bit + 1),      // a block magic
        FlipBit(falseMagics, static_cast<int64_t>(falseMagics.size()) * 4),
        FlipBit(pieces, MagicsOf(pieces)[1].bit + 200), // the block after one that ends on a piece
        "BZh1" + Compress(data, 9).substr(4),           // blocks too large for the stated level
    };
    // Stray bits between two blocks: one that the block's own last byte hides (it does not end on a
    // whole byte), and more.
    size_t uneven = 1;
    while ((magics[uneven].bit - magics[uneven - 1].bit) % 8 == 0) ++uneven;
    corpus.push_back(InsertBits(payload, magics[uneven].bit, 1));
    corpus.push_back(InsertBits(payload, magics[3].bit, 21));
    // Damage all over the stream, and every kind of cut.
    for (int64_t bit = 200; bit < endBit; bit += endBit / 9) corpus.push_back(FlipBit(payload, bit));
    for (size_t keep :
         {size_t(10), payload.size() / 3, payload.size() / 2 + 1, static_cast<size_t>(endBit / 8),
          static_cast<size_t>(endBit / 8) + 6, payload.size() - 1})
        corpus.push_back(payload.substr(0, keep));
    for (const std::string& stream : corpus) {
        SCOPED_TRACE(stream.size());
        ExpectSameAsOneDecoder(stream);
    }
    // The bound on the unpacked size, around the pieces written and the end.
    for (int64_t bound : {int64_t(1), int64_t(65536 * 2), int64_t(65536 * 2 + 1), int64_t(data.size() - 1),
                          int64_t(data.size())}) {
        SCOPED_TRACE(bound);
        ExpectSameAsOneDecoder(payload, bound);
        ExpectSameAsOneDecoder(pieces, bound);
    }
    ExpectSameAsOneDecoder(Compress(std::string(12 << 20, '\0'), 1), 7 << 20);
}

TEST(BZip2Parallel, AnObserverBreaksOffEveryThread) {
    const std::string payload = Compress(Text(2000000, 30), 1);
    for (int64_t at : {1, 2, 5}) {
        TProgressLog log;
        log.breakAt = at;
        TMemoryStream source(payload), target;
        EXPECT_EQ(ErrorOf([&] { UnpackStreamOn(3, source, target, &log); }), "cancelled");
        EXPECT_EQ(log.finished, 1);
    }
}
