// A payload joined by vandrel-publish is one ordinary bzip2 stream: the bzip2 program reads it.
#include "tests/common/TestUtil.h"
#include "tools/publish/PublishCompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace publish;
using namespace testutil;

TEST(PublishPayload, TheBzip2ProgramUnpacksAJoinedPayload) {
    // Pieces of every kind, one of them too large for one block (runs of four equal bytes grow in
    // bzip2's first step), so blocks meet at every bit alignment.
    std::string runs;
    for (size_t i = 0; runs.size() < kPieceSize; ++i) runs += std::string(4, static_cast<char>('a' + (i * 7) % 26));
    runs.resize(kPieceSize);
    const std::string data = RandomBytes(kPieceSize + 1234, 1) + runs + std::string(kPieceSize, 'z') + "end";
    TMemoryStream payload;
    TBZBlockJoiner joiner(payload);
    for (size_t at = 0; at < data.size(); at += kPieceSize)
        for (const std::string& stream : CompressPiece(data.data() + at, std::min(kPieceSize, data.size() - at)))
            joiner.Add(stream);
    joiner.Finish();

    TempDir dir;
    WriteBytes(dir / "payload.bz2", payload.Bytes());
    std::string folder = dir.Path();
    std::replace(folder.begin(), folder.end(), '\\', '/');
    ASSERT_EQ(std::system(("bzip2 -dc '" + folder + "/payload.bz2' > '" + folder + "/unpacked'").c_str()), 0);
    EXPECT_TRUE(ReadBytes(dir / "unpacked") == data);
}
