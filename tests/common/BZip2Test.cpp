#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

std::string UnpackBytes(const std::string& compressed) {
    TMemoryStream source(compressed), target("");
    UnpackStream(source, target);
    return target.Bytes();
}

struct RecordingObserver : UnpackObserver {
    int64_t startedWith = -1;
    std::vector<int64_t> positions;
    int finished = 0;
    void UnpackStarted(TStream& source) override { startedWith = source.Size(); }
    void UnpackProgress(int64_t consumed) override { positions.push_back(consumed); }
    void UnpackFinished() override { ++finished; }
};

} // namespace

TEST(BZip2, UnpacksWhatWasPackedIncludingMultiBlockData) {
    std::string text = RandomBytes(300000, 1) + std::string(2000000, 'z') + RandomBytes(1000, 2);
    EXPECT_EQ(UnpackBytes(Compress(text, 1)), text);
    EXPECT_EQ(UnpackBytes(Compress("")), "");
}

TEST(BZip2, RejectsWhatIsNotOneWholeStream) {
    std::string packed = Compress(RandomBytes(50000, 3));
    // Not bzip2 at all: an error page in place of the payload.
    EXPECT_EQ(ErrorOf([] { UnpackBytes("<html><body>404 Not Found</body></html>"); }), "error -5");
    // Two streams one after the other.
    EXPECT_EQ(ErrorOf([&] { UnpackBytes(packed + packed); }), "error -1");
    // A damaged block: the block checksum no longer matches.
    std::string damaged = packed;
    damaged[damaged.size() / 2] ^= 0x10;
    EXPECT_EQ(ErrorOf([&] { UnpackBytes(damaged); }), "error -4");
    // A cut download ends before the stream's end marker.
    for (size_t keep : {size_t(4), size_t(100), packed.size() - 1})
        EXPECT_EQ(ErrorOf([&] { UnpackBytes(packed.substr(0, keep)); }), "error -7") << keep;
    // Empty input is an empty file, not an error.
    EXPECT_EQ(UnpackBytes(""), "");
}

TEST(BZip2, SeeksForwardOrBackToTheStartOnly) {
    std::string text = RandomBytes(5000, 4);
    TMemoryStream source(Compress(text));
    TBZDecompressionStream stream(source);
    char buffer[1000];
    ASSERT_EQ(stream.Read(buffer, 1000), 1000);
    EXPECT_EQ(std::string(buffer, 1000), text.substr(0, 1000));
    EXPECT_EQ(stream.Seek(1500, TSeekOrigin::soBeginning), 1500);
    ASSERT_EQ(stream.Read(buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), text.substr(1500, 10));
    EXPECT_EQ(ErrorOf([&] { stream.Seek(1000, TSeekOrigin::soBeginning); }), "Invalid stream operation");
    EXPECT_EQ(ErrorOf([&] { stream.Seek(-1, TSeekOrigin::soCurrent); }), "Invalid stream operation");
    EXPECT_EQ(ErrorOf([&] { stream.Seek64(0, TSeekOrigin::soEnd); }), "Invalid stream operation");
    EXPECT_EQ(ErrorOf([&] { stream.Size(); }), "Invalid stream operation");
    EXPECT_EQ(stream.Seek64(10, TSeekOrigin::soCurrent), 1520);
    EXPECT_EQ(stream.Position(), 1520);
    EXPECT_EQ(stream.Seek(0, TSeekOrigin::soBeginning), 0);
    ASSERT_EQ(stream.Read(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), text.substr(0, 5));
    // Forward past the end: the exact read fails.
    EXPECT_EQ(ErrorOf([&] { stream.Seek(9000, TSeekOrigin::soBeginning); }), "Stream read error");
    EXPECT_EQ(ErrorOf([&] { stream.Write("x", 1); }), "Invalid stream operation");
}

TEST(BZip2, ReadsFromWhereTheSourceWasLeftEvenIfSomeoneMovedIt) {
    std::string text = RandomBytes(200000, 5);
    TMemoryStream source(Compress(text));
    TBZDecompressionStream stream(source);
    std::string out(100, '\0');
    ASSERT_EQ(stream.Read(&out[0], 100), 100);
    source.SetPosition(3);
    std::string rest(text.size() - 100, '\0');
    ASSERT_EQ(stream.Read(&rest[0], static_cast<int32_t>(rest.size())), static_cast<int32_t>(rest.size()));
    EXPECT_EQ(out + rest, text);
}

TEST(BZip2, ReportsProgressAndDigestsWhatItWrites) {
    std::string text = RandomBytes(400000, 6);
    std::string packed = Compress(text);
    TMemoryStream source(packed), target("");
    RecordingObserver observer;
    TMD5Context digest;
    UnpackStream(source, target, &observer, &digest);
    TMD5Digest d;
    digest.Final(d);
    EXPECT_EQ(DigestToHex(d), Md5Hex(text));
    EXPECT_EQ(observer.startedWith, static_cast<int64_t>(packed.size()));
    ASSERT_FALSE(observer.positions.empty());
    EXPECT_EQ(observer.positions.back(), static_cast<int64_t>(packed.size()));
    EXPECT_EQ(observer.finished, 1);

    // A failing unpack still ends its progress report.
    TMemoryStream bad("not bzip2"), sink("");
    RecordingObserver failing;
    EXPECT_THROW(UnpackStream(bad, sink, &failing), EBZDecompressionError);
    EXPECT_EQ(failing.finished, 1);
}

TEST(UnpackFile, WritesTheDestinationAndDeletesThePayloadEvenOnFailure) {
    TempDir dir;
    std::string text = RandomBytes(100000, 7);
    WriteBytes(dir / "a.bz2", Compress(text));
    UnpackFile(dir / "a.bz2", dir / "a");
    EXPECT_EQ(ReadBytes(dir / "a"), text);
    EXPECT_FALSE(platform::IsFile(dir / "a.bz2"));

    WriteBytes(dir / "empty.bz2", "");
    UnpackFile(dir / "empty.bz2", dir / "empty");
    EXPECT_TRUE(platform::IsFile(dir / "empty"));
    EXPECT_EQ(ReadBytes(dir / "empty"), "");
    EXPECT_FALSE(platform::IsFile(dir / "empty.bz2"));

    WriteBytes(dir / "page.bz2", "<html>error</html>");
    EXPECT_EQ(ErrorOf([&] { UnpackFile(dir / "page.bz2", dir / "page"); }), "error -5");
    EXPECT_FALSE(platform::IsFile(dir / "page.bz2"));

    // A destination that cannot be created: the payload is deleted all the same.
    WriteBytes(dir / "b.bz2", Compress(text));
    EXPECT_THROW(UnpackFile(dir / "b.bz2", dir / "no-such-folder\\b"), EFCreateError);
    EXPECT_FALSE(platform::IsFile(dir / "b.bz2"));

    // A payload that is not there: nothing is created.
    EXPECT_THROW(UnpackFile(dir / "absent.bz2", dir / "absent"), EFOpenError);
    EXPECT_FALSE(platform::IsFile(dir / "absent"));
}
