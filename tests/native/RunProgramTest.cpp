#include "platform/Platform.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace testutil;

namespace {
// A program that leaves a note of the folder it was started in.
void WriteMarkerProgram(const std::string& path) {
    WriteBytes(path, "#!/bin/sh\npwd > started-here.txt\n");
    chmod(platform::CurrentFolder().empty() ? path.c_str() : ReplaceAll(path, "\\", "/").c_str(), 0755);
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 200 && !platform::IsFile(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return platform::IsFile(path);
}
} // namespace

TEST(RunProgram, StartsTheProgramInItsOwnFolderEvenWithBlanksAndLongPaths) {
    TempDir dir;
    RestoreFolder restore; // back out of dir before it is deleted
    std::string folder = dir / ("Program Files\\" + std::string(120, 'g') + "\\system");
    ASSERT_TRUE(platform::MakeFolders(folder));
    std::string program = folder + "\\zr.exe";
    WriteMarkerProgram(program);

    RunProgram(program);
    EXPECT_EQ(platform::CurrentFolder(), ReplaceAll(folder, "\\", "/"));
    ASSERT_TRUE(WaitForFile(folder + "\\started-here.txt"));
}
