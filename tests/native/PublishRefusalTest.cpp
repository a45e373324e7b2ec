// What vandrel-publish refuses to publish, and that a refused run leaves the published set as it was.
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
#include "tools/publish/Publish.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace testutil;
using publish::EPublishError;
using publish::PublishOptions;

namespace {

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

class Refusals : public ::testing::Test {
protected:
    void Put(const std::string& relativeNative, const std::string& content) {
        std::filesystem::path path = std::filesystem::path(Native(client.Path())) / relativeNative;
        std::filesystem::create_directories(path.parent_path());
        // Straight to the file system: some names here are ones the launcher's own layer would alter.
        std::ofstream(path, std::ios::binary) << content;
    }
    void Publish() {
        options.clientDir = Native(client.Path());
        if (options.outDir.empty()) options.outDir = Native(out.Path());
        publish::Publish(options);
    }
    // Publishing fails with a message holding every one of the words.
    void ExpectRefused(const std::vector<std::string>& words) {
        try {
            Publish();
            ADD_FAILURE() << "published although it should not";
        } catch (const EPublishError& error) {
            for (const std::string& word : words) EXPECT_NE(std::string(error.what()).find(word), std::string::npos)
                                                      << "\"" << word << "\" not in: " << error.what();
        }
    }
    std::vector<std::string> OutFiles() {
        std::vector<std::string> files;
        for (auto& entry : std::filesystem::recursive_directory_iterator(Native(out.Path())))
            if (!entry.is_directory()) files.push_back(entry.path().lexically_relative(Native(out.Path())).string());
        std::sort(files.begin(), files.end());
        return files;
    }

    TempDir client, out;
    PublishOptions options;
};

} // namespace

TEST_F(Refusals, NamesTheLauncherCannotInstallStopThePublishingBeforeAnythingIsWritten) {
    struct Case {
        std::string name;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"data/a:b.dat", "drive letter"},  {"data/con.txt", "device"},     {"LPT1", "device"},
        {"x|y.dat", "'|'"},                {"trail.", "dot or a blank"},  {"space ", "dot or a blank"},
        {" lead.txt", "list reader trims"}, {"q?.txt", "'?'"},             {"back\\slash.txt", "'\\'"},
        {"ctl\x01.txt", "control"},        {"Привет.txt", "non-ASCII"},   {"CONIN$", "device"},
        {"COM0.log", "device"},            {"star*.txt", "'*'"},          {"quote\".txt", "'\"'"}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::filesystem::remove_all(Native(client.Path()));
        Put("good.dat", "fine");
        Put(test.name, "bad");
        ExpectRefused({test.reason, "refusing"});
        EXPECT_TRUE(OutFiles().empty());
    }
}

TEST_F(Refusals, FoldersThatOverlapAreRefused) {
    Put("game.exe", "game");
    options.outDir = Native(client / "web");
    ExpectRefused({"inside the client folder"});
    EXPECT_FALSE(platform::IsFolder(client / "web\\files.lst.bz2"));
    options.outDir = Native(client.Path()) + "/";
    ExpectRefused({"inside the client folder"});
    options.outDir = Native(client.Path()) + "/data/../web";
    ExpectRefused({"inside the client folder"});

    TempDir outer;
    std::string nested = outer / "client";
    platform::MakeFolders(nested);
    WriteBytes(nested + "\\game.exe", "game");
    options.clientDir = Native(nested);
    PublishOptions inside = options;
    inside.outDir = Native(outer.Path());
    EXPECT_THROW(publish::Publish(inside), EPublishError);
}

TEST_F(Refusals, ClashesOnWindowsAndBetweenAPayloadAndAFileAreRefused) {
    Put("Data/a.txt", "one");
    Put("data/A.TXT", "two");
    ExpectRefused({"letter case"});
    std::filesystem::remove_all(Native(client.Path()));
    Put("maps/town.dat", "town");
    Put("maps/town.dat.bz2", "town packed by hand");
    ExpectRefused({"maps\\town.dat.bz2", "downloads or unpacks"});
    std::filesystem::remove(Native(client / "maps\\town.dat.bz2"));
    Put("maps/town.dat.~up", "looks like a half-unpacked town");
    ExpectRefused({"maps\\town.dat.~up", "downloads or unpacks"});
    std::filesystem::remove(Native(client / "maps\\town.dat.~up"));
    Put("Maps", "a file named like a folder");
    ExpectRefused({"folder of the same name"});
}

TEST_F(Refusals, TheLaunchersExeMustBeAPlainNameThatIsThere) {
    Put("Launcher.exe", "exe");
    Put("sub/Launcher.exe", "exe");
    for (const std::string bad : {"sub/Launcher.exe", "my launcher.exe", "a&b.exe", "up(1).exe", "50%.exe", "x^.exe"}) {
        SCOPED_TRACE(bad);
        options.selfName = bad;
        ExpectRefused({"launcher's exe"});
    }
    options.selfName = "Missing.exe";
    ExpectRefused({"Missing.exe", "not in the client's root folder"});
    options.selfName = "Launcher.exe";
    Publish();
    EXPECT_TRUE(platform::IsFile(out / "Launcher.exe.bz2"));
}

TEST_F(Refusals, SwitchingHostsOnWithoutEntriesIsRefused) {
    Put("game.exe", "game");
    options.modHosts = true;
    ExpectRefused({"no hosts entries"});
    WriteBytes(out / "..\\" + std::string("bad-hosts.txt"), "127.0.0.1\n");
    options.hostsFile = Native(out / "..\\bad-hosts.txt");
    ExpectRefused({"line 1", "address and one host name"});
    platform::RemoveFile(out / "..\\bad-hosts.txt");
}

TEST_F(Refusals, AnUnreadableFileStopsARepublishBeforeAnyPayloadOrTheListChanges) {
    Put("a.dat", "alpha");
    Put("b.dat", "beta");
    Publish();
    std::string list = ReadBytes(out / "files.lst.bz2");
    std::string payload = ReadBytes(out / "a.dat.bz2");
    std::vector<std::string> before = OutFiles();

    Put("a.dat", "alpha, changed");
    ASSERT_EQ(symlink("nowhere.dat", Native(client / "broken.dat").c_str()), 0);
    ExpectRefused({"cannot read", "broken.dat"});
    EXPECT_EQ(ReadBytes(out / "files.lst.bz2"), list);
    EXPECT_EQ(ReadBytes(out / "a.dat.bz2"), payload);
    EXPECT_EQ(OutFiles(), before) << "no temporary files are left behind";
}

TEST_F(Refusals, AFolderLinkThatLoopsIsRefusedAtTheLinkWhileALinkToAFileIsPublished) {
    Put("real.txt", "real");
    Put("Game Data/sub/a.dat", "a");
    ASSERT_EQ(symlink("../real.txt", Native(client / "Game Data\\link.txt").c_str()), 0);
    ASSERT_EQ(symlink("..", Native(client / "Game Data\\sub\\loop").c_str()), 0);
    ExpectRefused({"Game Data/sub/loop", "loops"});
    EXPECT_TRUE(OutFiles().empty());
    std::filesystem::remove(Native(client / "Game Data\\sub\\loop"));
    Publish();
    EXPECT_TRUE(platform::IsFile(out / "Game Data\\link.txt.bz2"));
    EXPECT_TRUE(platform::IsFile(out / "Game Data\\sub\\a.dat.bz2"));
}

TEST_F(Refusals, Cp1251NamesArePublishedOnlyWhenAskedForAndOnlyWhenTheCodePageHasThem) {
    Put("Карты/Город.dat", "town");
    ExpectRefused({"non-ASCII", "--cp1251"});
    options.allowCp1251 = true;
    Publish();
    const std::string folder = "\xCA\xE0\xF0\xF2\xFB", name = "\xC3\xEE\xF0\xEE\xE4.dat";
    EXPECT_TRUE(platform::IsFile(out / (folder + "\\" + name + ".bz2")));
    std::string copy = out / "copy.bz2";
    platform::CopyFileReplacing(out / "files.lst.bz2", copy);
    UnpackFile(copy, out / "files.lst");
    TListFile reader(out / "files.lst");
    EXPECT_EQ(SplitReversed(reader.GetSection("files_normal")[0], "|")[2], folder + "\\" + name);
    platform::RemoveFile(out / "files.lst");

    Put("日本.dat", "no such letters in 1251");
    ExpectRefused({"code page 1251 lacks"});
}
