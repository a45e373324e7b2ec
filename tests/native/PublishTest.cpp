// Publishing a client folder and installing it with the launcher's own update run; republishing after
// changes; the list as the launcher's reader sees it.
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/md5.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishVerify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

using namespace testutil;
namespace fs = std::filesystem;
using publish::PublishOptions;
using publish::PublishSummary;

namespace {

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

// Text that compresses like game data does: repeated records with some noise.
std::string MixedBytes(size_t count, uint32_t seed) {
    std::string noise = RandomBytes(count / 4 + 1, seed), text;
    for (size_t i = 0; text.size() < count; ++i) {
        text += "record " + std::to_string(i % 977) + " weight " + std::to_string((i * 31) % 1000) + ";";
        text += noise.substr((i * 13) % noise.size(), 7);
    }
    text.resize(count);
    return text;
}

struct FileId {
    ino_t inode;
    int64_t modified;
    bool operator==(const FileId& other) const { return inode == other.inode && modified == other.modified; }
};
FileId Identify(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(Native(path).c_str(), &info), 0) << path;
    return {info.st_ino, int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

} // namespace

class Publishing : public UpdateFixture {
protected:
    void Put(const std::string& relative, const std::string& content) {
        std::string path = source / relative;
        platform::MakeFolders(ExtractFilePath(path));
        WriteBytes(path, content);
    }
    PublishSummary Run() {
        options.clientDir = Native(source.Path());
        options.outDir = Native(served.Path());
        return publish::Publish(options);
    }
    // The published list, read with the launcher's reader after unpacking it.
    std::string ListFile() {
        std::string copy = scratch / "files.lst.bz2";
        platform::CopyFileReplacing(served / "files.lst.bz2", copy);
        UnpackFile(copy, scratch / "files.lst");
        return scratch / "files.lst";
    }
    std::map<std::string, TStringList> Entries(TListFile& list) {
        std::map<std::string, TStringList> entries;
        for (const char* section : {"self", "files_critical", "files_normal"}) {
            for (const std::string& line : list.GetSection(section))
                if (line != kListFail) entries[section].push_back(line);
        }
        return entries;
    }
    // Every payload unpacks to the digest its entry lists, and the entry's size is the payload's size.
    void ExpectPayloadsMatch(TListFile& list) {
        for (auto& [section, lines] : Entries(list)) {
            for (const std::string& line : lines) {
                TStringList fields = SplitReversed(line, "|");
                ASSERT_EQ(fields.size(), 3u) << line;
                std::string payload = served / (fields[2] + ".bz2");
                ASSERT_TRUE(platform::IsFile(payload)) << payload;
                EXPECT_EQ(std::to_string(ReadBytes(payload).size()), fields[0]) << line;
                platform::CopyFileReplacing(payload, scratch / "payload.bz2");
                UnpackFile(scratch / "payload.bz2", scratch / "unpacked");
                TMD5Digest digest;
                DigestFile(scratch / "unpacked", digest);
                EXPECT_EQ(DigestToHex(digest), fields[1]) << line;
            }
        }
    }

    TempDir source;
    TempDir scratch;
    PublishOptions options;
};

TEST_F(Publishing, TheLaunchersUpdateRunInstallsAPublishedClientAndARepublishRewritesOnlyWhatChanged) {
    std::map<std::string, std::string> files = {
        {"system\\zr.exe", RandomBytes(70000, 1)},
        {"data\\maps\\area.dat", MixedBytes(2600000, 2)}, // several pieces joined into one stream
        {"data\\maps\\town.dat", MixedBytes(300000, 3)},
        {"readme.txt", "welcome\r\n"},
        {"empty.dat", ""}};
    for (auto& [path, content] : files) Put(path, content);
    Put("_settings.ini", "[main]\r\nAtRevision=3\r\n");
    Put("backup\\readme.txt", "old");
    options.critical = {"system/"};

    PublishSummary first = Run();
    EXPECT_EQ(first.revision, 1);
    EXPECT_TRUE(first.listWritten);
    EXPECT_EQ(first.files, files.size());
    EXPECT_EQ(first.compressed, files.size());
    {
        TListFile list(ListFile());
        ExpectPayloadsMatch(list);
    }
    EXPECT_FALSE(platform::IsFile(served / "_settings.ini.bz2"));
    EXPECT_FALSE(platform::IsFolder(served / "backup"));

    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    for (auto& [path, content] : files) EXPECT_EQ(ReadBytes(Local(path)), content) << path;
    EXPECT_EQ(SettingsIni(), "[main]\r\nAtRevision=1\r\n");

    std::map<std::string, FileId> before;
    for (auto& [path, content] : files) before[path] = Identify(served / (path + ".bz2"));
    FileId listBefore = Identify(served / "files.lst.bz2");

    // Nothing changed: nothing is rewritten, not even the list, and the revision stays.
    PublishSummary same = Run();
    EXPECT_FALSE(same.listWritten);
    EXPECT_EQ(same.revision, 1);
    EXPECT_EQ(same.compressed, 0u);
    EXPECT_EQ(Identify(served / "files.lst.bz2"), listBefore);

    files["readme.txt"] = "welcome back\r\n";
    files["data\\new\\quest.dat"] = MixedBytes(5000, 4);
    files.erase("data\\maps\\area.dat");
    files.erase("data\\maps\\town.dat");
    Put("readme.txt", files["readme.txt"]);
    Put("data\\new\\quest.dat", files["data\\new\\quest.dat"]);
    platform::RemoveFile(source / "data\\maps\\area.dat");
    platform::RemoveFile(source / "data\\maps\\town.dat");

    PublishSummary second = Run();
    EXPECT_EQ(second.revision, 2);
    EXPECT_EQ(second.compressed, 2u);
    EXPECT_EQ(second.reused, 2u);
    EXPECT_EQ(second.removed, 2u);
    EXPECT_EQ(Identify(served / "system\\zr.exe.bz2"), before["system\\zr.exe"]);
    EXPECT_EQ(Identify(served / "empty.dat.bz2"), before["empty.dat"]);
    EXPECT_FALSE(Identify(served / "readme.txt.bz2") == before["readme.txt"]);
    EXPECT_FALSE(platform::IsFile(served / "data\\maps\\area.dat.bz2"));
    EXPECT_FALSE(platform::IsFolder(served / "data\\maps")); // emptied folders go too
    {
        TListFile list(ListFile());
        ExpectPayloadsMatch(list);
        EXPECT_EQ(list.GetValue("settings", "Rev"), "2");
    }

    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    for (auto& [path, content] : files) EXPECT_EQ(ReadBytes(Local(path)), content) << path;
    EXPECT_EQ(SettingsIni(), "[main]\r\nAtRevision=2\r\n");
}

TEST_F(Publishing, TheListHoldsExactlyThePublishedFilesInTheirSectionsWithSelfAndHosts) {
    Put("Launcher.exe", RandomBytes(5000, 9));
    Put("system\\zr.exe", "game");
    Put("system\\option.ini", "[Video]\r\n");
    Put("data\\tools\\helper.exe", "helper");
    Put("data\\sound.pak", MixedBytes(10000, 5));
    Put("logs\\today.log", "noise");
    Put("data\\debug.log", "noise");
    Put("screenshots\\shot1.bmp", "picture");
    Put("Update.bat", "@echo off");
    Put("files.lst", "stale");
    WriteBytes(scratch / "hosts.txt", "# login servers\n127.0.0.1   login.example.com\n10.0.0.2|patch.example.com\n\n");
    options.critical = {"*.exe", "system/option.ini"};
    options.exclude = {"*.log", "screenshots/"};
    options.selfName = "Launcher.exe";
    options.hostsFile = Native(scratch / "hosts.txt");
    options.modHosts = true;
    options.revision = 57;
    EXPECT_EQ(Run().revision, 57);

    std::string path = ListFile();
    std::string text = ReadBytes(path);
    EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(ReplaceAll(text, "\r\n", "").find('\n'), std::string::npos) << "every line ends with CR LF";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    TListFile list(path);
    EXPECT_EQ(list.GetValue("settings", "Rev"), "57");
    EXPECT_EQ(list.GetValue("settings", "ModHosts"), "1");
    EXPECT_EQ(list.GetSection("hosts"), (TStringList{"127.0.0.1|login.example.com", "10.0.0.2|patch.example.com"}));
    auto entries = Entries(list);
    auto paths = [&](const std::string& section) {
        TStringList result;
        for (const std::string& line : entries[section]) result.push_back(SplitReversed(line, "|")[2]);
        return result;
    };
    EXPECT_EQ(paths("self"), TStringList{"Launcher.exe"});
    EXPECT_EQ(paths("files_critical"), (TStringList{"data\\tools\\helper.exe", "system\\option.ini", "system\\zr.exe"}));
    EXPECT_EQ(paths("files_normal"), TStringList{"data\\sound.pak"});
    EXPECT_EQ(SplitReversed(entries["self"][0], "|")[1], Md5Hex(ReadBytes(source / "Launcher.exe")));
    for (auto& [section, lines] : entries)
        for (const std::string& line : lines) {
            std::string digest = SplitReversed(line, "|")[1];
            EXPECT_EQ(digest, Md5Hex(ReadBytes(source / SplitReversed(line, "|")[2]))) << line;
        }
    ExpectPayloadsMatch(list);
    EXPECT_TRUE(platform::IsFile(served / "Launcher.exe.bz2"));
    EXPECT_FALSE(platform::IsFile(served / "Update.bat.bz2"));
    EXPECT_FALSE(platform::IsFolder(served / "logs"));
}

TEST_F(Publishing, APayloadLostFromTheOutputFolderIsWrittenAgainAndAnAskedForRevisionIsWrittenEvenWithoutChanges) {
    Put("a.dat", "alpha");
    Put("b.dat", "beta");
    Run();
    // A classic name lost or damaged is linked to its object again; with the objects gone too, the
    // payloads are compressed again.
    platform::RemoveFile(served / "a.dat.bz2");
    WriteBytes(served / "b.dat.bz2", "truncated");
    PublishSummary repaired = Run();
    EXPECT_EQ(repaired.compressed, 0u);
    EXPECT_EQ(repaired.revision, 1) << "the list's contents did not change";
    {
        TListFile list(ListFile());
        ExpectPayloadsMatch(list);
    }
    fs::remove_all(Native(served / "vandrel-objects"));
    platform::RemoveFile(served / "a.dat.bz2");
    WriteBytes(served / "b.dat.bz2", "truncated");
    repaired = Run();
    EXPECT_EQ(repaired.compressed, 2u);
    EXPECT_EQ(repaired.revision, 1) << "the list's contents did not change";
    {
        TListFile list(ListFile());
        ExpectPayloadsMatch(list);
    }
    options.revision = 9;
    PublishSummary forced = Run();
    EXPECT_TRUE(forced.listWritten);
    EXPECT_EQ(forced.compressed, 0u);
    TListFile list(ListFile());
    EXPECT_EQ(list.GetValue("settings", "Rev"), "9");
}

TEST_F(Publishing, NamesWithBlanksHashesAndPercentSignsArePublishedFetchedAndVerified) {
    // Such names reach the server escaped: unescaped, libcurl refuses the blank, and "#" or "%" would
    // arrive as a fragment or an escape, so the payload would never be found.
    const std::map<std::string, std::string> files = {{"Game Data\\file with spaces.txt", "spaces"},
                                                      {"a#b.txt", "hash"},
                                                      {"50%.txt", "percent"},
                                                      {"after.txt", "the entry after them"}};
    for (auto& [path, content] : files) Put(path, content);
    Run();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    for (auto& [path, content] : files) EXPECT_EQ(ReadBytes(Local(path)), content) << path;

    // Their classic names, which launchers without objects fetch, are checked by --verify.
    server.ClearRequests();
    publish::VerifyReport report = publish::Verify(server.BaseUrl(), "");
    EXPECT_TRUE(report.problems.empty()) << report.problems[0];
    EXPECT_EQ(report.entries, files.size());
    const std::vector<std::string> requests = server.Requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "Game Data/file with spaces.txt.bz2"), requests.end());
    EXPECT_NE(std::find(requests.begin(), requests.end(), "a#b.txt.bz2"), requests.end());
}
