#include "platform/Platform.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {
const char* const kEmpty = "d41d8cd98f00b204e9800998ecf8427e";
} // namespace

TEST(Md5, MatchesTheRfc1321TestSuite) {
    EXPECT_EQ(Md5Hex(""), kEmpty);
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseUpdatesGiveTheSameDigestAcrossBlockEdges) {
    std::string data = RandomBytes(1000, 11);
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string part = data.substr(0, length);
        for (size_t cut : {size_t(0), size_t(1), length / 2, length - 1}) {
            TMD5Context context;
            context.Update(part.data(), cut);
            context.Update(part.data() + cut, length - cut);
            TMD5Digest digest;
            context.Final(digest);
            EXPECT_EQ(DigestToHex(digest), Md5Hex(part)) << length << "/" << cut;
        }
    }
}

TEST(Md5, DigestToHexWritesHighNibbleFirstInLowerCase) {
    TMD5Digest digest{};
    digest.v[0] = 0x0a;
    digest.v[15] = 0xF0;
    EXPECT_EQ(DigestToHex(digest), "0a0000000000000000000000000000f0");
}

TEST(DigestFile, DigestsFilesAndGivesTheEmptyDigestForWhatCannotBeRead) {
    TempDir dir;
    WriteBytes(dir / "abc", "abc");
    EXPECT_EQ(Md5OfFile(dir / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    WriteBytes(dir / "empty", "");
    EXPECT_EQ(Md5OfFile(dir / "empty"), kEmpty);
    EXPECT_EQ(Md5OfFile(dir / "missing"), kEmpty);
    EXPECT_EQ(Md5OfFile(dir.Path()), kEmpty); // a folder is no file
    for (size_t length : {63u, 64u, 65u, 127u, 128u, 129u, 70000u}) {
        std::string bytes = RandomBytes(length, static_cast<uint32_t>(length));
        WriteBytes(dir / "edge", bytes);
        EXPECT_EQ(Md5OfFile(dir / "edge"), Md5Hex(bytes)) << length;
    }
}

TEST(DigestFile, ReadsFilesLargerThanOneViewThroughSuccessiveViews) {
    TempDir dir;
    // 64 MiB views: a file of 64 MiB + 3 bytes needs two, and the second starts mid-file.
    std::string bytes = RandomBytes((size_t(64) << 20) + 3, 12);
    WriteBytes(dir / "big", bytes);
    EXPECT_EQ(Md5OfFile(dir / "big"), Md5Hex(bytes));
}
