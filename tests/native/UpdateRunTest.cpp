#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "tests/native/UpdateFixture.h"

#include <algorithm>
#include <unistd.h>

using namespace testutil;
using Statuses = std::vector<std::string>;

namespace {
bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}
const std::string kFailed = "Обновление неудалось";
} // namespace

class UpdateRun : public UpdateFixture {};

TEST_F(UpdateRun, InstallsAFreshClientThenFindsNothingToDoThenFetchesOnlyWhatChanged) {
    std::vector<ListEntry> files = {{"system\\zr.exe", RandomBytes(70000, 1), true},
                                    {"data\\maps\\area.dat", "area", false},
                                    {"readme.txt", "", false}};
    Publish(files, 7);
    RunUpdate();

    for (const ListEntry& f : files) EXPECT_EQ(ReadBytes(Local(f.path)), f.content) << f.path;
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(window.statuses,
              (Statuses{"Загрузка списка обновлений", "", "Проверка файлов", "Проверка файлов system\\zr.exe", "",
                        "Проверка файлов", "Проверка файлов data\\maps\\area.dat", "Проверка файлов readme.txt", "",
                        "Загрузка system\\zr.exe", "Извлечение system\\zr.exe", "Загрузка data\\maps\\area.dat",
                        "Извлечение data\\maps\\area.dat", "Загрузка readme.txt", "Извлечение readme.txt",
                        "Все файлы обновлены"}));
    EXPECT_TRUE(Contains(server.Requests(), "data/maps/area.dat.bz2"));
    EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    EXPECT_FALSE(platform::IsFile(Local("files.lst.bz2")));
    EXPECT_FALSE(platform::IsFile(Local("system\\zr.exe.bz2")));
    EXPECT_EQ(SettingsIni(), "[main]\r\nAtRevision=7\r\n");
    EXPECT_TRUE(window.ImgBtn1Enabled && window.ImgBtn2Enabled);
    EXPECT_EQ(window.Gauge2.Progress(), 0);
    EXPECT_EQ(window.Shape1Width, 0);

    // Nothing changed: nothing fetched but the list, and the closing status is empty.
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "");
    EXPECT_EQ(server.Requests(), Statuses{"files.lst.bz2"});

    // One file changed on the server: only it is fetched.
    files[1].content = "area, second edition";
    Publish(files, 8);
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(server.Requests(), (Statuses{"files.lst.bz2", "data/maps/area.dat.bz2"}));
    EXPECT_EQ(ReadBytes(Local("data\\maps\\area.dat")), "area, second edition");
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(SettingsIni(), "[main]\r\nAtRevision=8\r\n");
}

TEST_F(UpdateRun, AnUnreachableServerFailsCleanly) {
    WriteBytes(Local("files.lst"), "left from an earlier run");
    beforeRun = [](GFilesThread& worker) { worker.BaseURL = "http://127.0.0.1:1"; };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    EXPECT_EQ(SettingsIni(), "(none)");
    EXPECT_TRUE(window.revisions.empty());
    EXPECT_TRUE(window.ImgBtn1Enabled && window.ImgBtn2Enabled);
}

TEST_F(UpdateRun, AListThatIsNoBzip2FailsAndIsRemoved) {
    WriteBytes(served / "files.lst.bz2", "<html>maintenance</html>");
    RunUpdate();
    EXPECT_EQ(window.statuses, (Statuses{"Загрузка списка обновлений", "", kFailed, kFailed}));
    EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    EXPECT_FALSE(platform::IsFile(Local("files.lst.bz2")));
    EXPECT_EQ(SettingsIni(), "(none)");
}

TEST_F(UpdateRun, AListWithAnOverlongLineOrPastItsBoundIsCorrupt) {
    // A few hundred compressed bytes holding one huge line, or more short lines than any list has: the
    // run fails instead of reading them, and nothing of the list stays on disk.
    for (const std::string& junk : {std::string(8 * 1024 * 1024, '7') + "\r\n",
                                    std::string(size_t(kMaxListBytes / 2) + 1, '\n') + "\r\n" +
                                        std::string(size_t(kMaxListBytes / 2), '\n')}) {
        Publish({{"a.dat", "a"}}, 3, "[junk]\r\n" + junk + "[/junk]\r\n");
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kFailed);
        EXPECT_FALSE(platform::IsFile(Local("files.lst")));
        EXPECT_FALSE(platform::IsFile(Local("files.lst.~up")));
        EXPECT_FALSE(platform::IsFile(Local("a.dat")));
        EXPECT_TRUE(window.revisions.empty());
        EXPECT_TRUE(window.ImgBtn1Enabled && window.ImgBtn2Enabled);
    }
}

TEST_F(UpdateRun, BackupsKeepTheReplacedFilesOnly) {
    WriteBytes(Local("old.txt"), "old contents");
    platform::MakeFolders(Local("backup\\stale"));
    WriteBytes(Local("backup\\stale\\leftover"), "from an earlier run");
    Publish({{"old.txt", "new contents"}, {"sub\\new.txt", "brand new"}});
    RunUpdate(true, 1);
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(Local("old.txt")), "new contents");
    EXPECT_EQ(ReadBytes(Local("backup\\old.txt")), "old contents");
    EXPECT_FALSE(platform::IsFile(Local("backup\\sub\\new.txt")));
    EXPECT_FALSE(platform::IsFolder(Local("backup\\stale")));

    // Backups off: no backup folder is touched or made.
    DeleteFolder(Local("backup"));
    Publish({{"old.txt", "third"}});
    RunUpdate(true, 0);
    EXPECT_FALSE(platform::IsFolder(Local("backup")));
}

TEST_F(UpdateRun, LinksPlantedOnTheLaunchersOwnNamesAreRemovedAsLinksAndNeverFollowed) {
    TempDir victim;
    WriteBytes(victim / "file", "victim");
    ASSERT_TRUE(platform::MakeFolders(victim / "folder"));
    WriteBytes(victim / "folder\\keep", "victim");
    for (const char* folder : {"~vandrel-ahead", "backup"}) ASSERT_TRUE(MakeSymbolicLink(victim / "folder", Local(folder)));
    for (const char* file : {"a.dat.bz2", "a.dat.~up", "files.lst", "files.lst.bz2", "files.lst.~up"})
        ASSERT_TRUE(MakeSymbolicLink(victim / "file", Local(file)));
    WriteBytes(Local("a.dat"), "old a");
    Publish({{"a.dat", "new a"}, {"sub\\b.dat", "new b"}});
    for (int aheadConnections : {8, 0}) {
        beforeRun = [&](GFilesThread& worker) { worker.AheadConnections = aheadConnections; };
        RunUpdate(true, 1);
        EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
        EXPECT_EQ(ReadBytes(victim / "file"), "victim");
        EXPECT_EQ(ReadBytes(victim / "folder\\keep"), "victim");
        EXPECT_FALSE(platform::IsFile(victim / "folder\\a.dat"));
        EXPECT_EQ(ReadBytes(Local("a.dat")), "new a");
        EXPECT_EQ(ReadBytes(Local("sub\\b.dat")), "new b");
        EXPECT_FALSE(platform::IsLink(Local("backup")));
        EXPECT_EQ(ReadBytes(Local("backup\\a.dat")), "old a");
        // The next run starts by emptying the backup folder: a link in it goes as a link.
        platform::DeleteFolderTree(Local("backup\\sub"));
        ASSERT_TRUE(MakeSymbolicLink(victim / "folder", Local("backup\\sub")));
        WriteBytes(Local("a.dat"), "old a");
    }
}

TEST_F(UpdateRun, WithoutAFullCheckACurrentRevisionSkipsTheNormalFiles) {
    Publish({{"critical.dat", "c", true}, {"normal.dat", "n", false}}, 5);
    platform::MakeFolders(Local("backup"));
    WriteBytes(Local("backup\\keep"), "k");
    RunUpdate(false, 1, 5);
    EXPECT_TRUE(platform::IsFile(Local("critical.dat")));
    EXPECT_FALSE(platform::IsFile(Local("normal.dat")));
    EXPECT_TRUE(platform::IsFile(Local("backup\\keep")));
    EXPECT_TRUE(window.revisions.empty());
    // A revision behind the list's checks them after all.
    RunUpdate(false, 0, 4);
    EXPECT_TRUE(platform::IsFile(Local("normal.dat")));
    EXPECT_EQ(window.revisions, Statuses{"5"});
}

TEST_F(UpdateRun, CancellingDuringTheCheckStopsThereAndStillStoresTheRevision) {
    Publish({{"a", "1", true}, {"b", "2", true}, {"c", "3", false}}, 9);
    window.onStatus = [&](const std::string& text) {
        if (text == "Проверка файлов a") cancel();
    };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Обновление прервано");
    EXPECT_FALSE(platform::IsFile(Local("a")));
    EXPECT_FALSE(Contains(window.statuses, "Проверка файлов b"));
    EXPECT_FALSE(Contains(window.statuses, "Проверка файлов c"));
    EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    EXPECT_EQ(window.revisions, Statuses{"9"});
    EXPECT_TRUE(window.ImgBtn2Enabled);
}

TEST_F(UpdateRun, CancellingDuringTheInstallFinishesTheFileInHand) {
    Publish({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    window.onStatus = [&](const std::string& text) {
        if (text == "Загрузка b") cancel();
    };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Обновление прервано");
    EXPECT_TRUE(platform::IsFile(Local("a")));
    EXPECT_EQ(ReadBytes(Local("b")), "2");
    EXPECT_FALSE(platform::IsFile(Local("c")));
}

TEST_F(UpdateRun, APayloadThatCannotBeFetchedStopsThePassAndOneThatDoesNotUnpackOnlyFailsItself) {
    std::vector<ListEntry> five = {{"1", "one"}, {"2", "two"}, {"3", "three"}, {"4", "four"}, {"5", "five"}};
    Publish(five);
    WriteBytes(Local("3"), "the good old third file");
    // The third payload is corrupt: the others are installed, the old third file stays whole.
    WriteBytes(served / "3.bz2", Compress("something else entirely"));
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    for (const char* name : {"1", "2", "4", "5"}) EXPECT_TRUE(platform::IsFile(Local(name))) << name;
    EXPECT_EQ(ReadBytes(Local("3")), "the good old third file");
    EXPECT_FALSE(platform::IsFile(Local("3.bz2")));
    EXPECT_FALSE(platform::IsFile(Local(std::string("3") + names::kUnpackSuffix)));
    EXPECT_EQ(window.revisions, Statuses{"7"});

    // An error page in place of the payload fails at the unpacking, like any bad payload, fetched at its
    // turn or ahead of it; nothing of it is kept for a later run.
    for (unsigned connections : {0u, 8u}) {
        SCOPED_TRACE(connections);
        beforeRun = [connections](GFilesThread& worker) { worker.AheadConnections = connections; };
        for (const char* name : {"1", "2", "3", "4", "5"}) platform::RemoveFile(Local(name));
        Publish(five);
        server.Misbehave("3.bz2", TestHttpServer::Misbehaviour::ErrorPage);
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kFailed);
        EXPECT_FALSE(platform::IsFile(Local("3")));
        EXPECT_TRUE(platform::IsFile(Local("5")));
        EXPECT_FALSE(platform::IsFolder(Local(names::kStagingFolder)));
    }
    beforeRun = nullptr;

    // A body cut short is no download: the pass stops there.
    for (const char* name : {"1", "2", "3", "4", "5"}) platform::RemoveFile(Local(name));
    server.Misbehave("3.bz2", TestHttpServer::Misbehaviour::CutBody);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    EXPECT_TRUE(platform::IsFile(Local("2")));
    EXPECT_FALSE(platform::IsFile(Local("3")));
    EXPECT_FALSE(platform::IsFile(Local("3.bz2")));
    EXPECT_FALSE(platform::IsFile(Local("4")));
    EXPECT_FALSE(platform::IsFile(Local("5")));
}

TEST_F(UpdateRun, TheCheckRemovesPayloadsAndTemporariesThatAKilledRunLeftBesideListedFiles) {
    Publish({{"current.dat", "current", true}, {"sub\\missing.dat", "missing", true}});
    WriteBytes(Local("current.dat"), "current");
    WriteBytes(Local("current.dat.bz2"), Compress("current"));
    WriteBytes(Local(std::string("current.dat") + names::kUnpackSuffix), "half");
    platform::MakeFolders(Local("sub"));
    WriteBytes(Local(std::string("sub\\missing.dat") + names::kUnpackSuffix), "half");
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(Local("sub\\missing.dat")), "missing");
    for (const std::string& left : std::vector<std::string>{"current.dat.bz2", "current.dat" + std::string(names::kUnpackSuffix),
                                                          "sub\\missing.dat" + std::string(names::kUnpackSuffix), "sub\\missing.dat.bz2"})
        EXPECT_FALSE(platform::IsFile(Local(left))) << left;
}

TEST_F(UpdateRun, AnEntryWhosePathCannotBeCreatedFailsAloneAndThePassGoesOn) {
    // About 5,000 characters: more than the system takes for a path.
    std::string deep;
    for (int i = 0; i < 25; ++i) deep += std::string(199, static_cast<char>('a' + i)) + "\\";
    deep += "x.dat";
    PublishList("[settings]\nRev|4\nModHosts|0\n[/settings]\n[files_normal]\n" + EntryLine({"first.dat", "1"}) + "\n" +
                deep + "|" + Md5Hex("deep") + "|10\n" + EntryLine({"last.dat", "3"}) + "\n[/files_normal]\n");
    for (int run = 0; run < 2; ++run) {
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kFailed);
        EXPECT_EQ(ReadBytes(Local("last.dat")), "3");
        EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    }
    EXPECT_EQ(ReadBytes(Local("first.dat")), "1");
    EXPECT_EQ(window.revisions, (Statuses{"4", "4"})) << "each run stores the revision it reached";
}

TEST_F(UpdateRun, UpperCaseDigestsInstallButAreFetchedOnEveryRun) {
    std::string content = "shouty";
    size_t size = PublishPayload("up.dat", content);
    std::string digest = Md5Hex(content);
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    PublishList("[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\nup.dat|" + digest + "|" +
                std::to_string(size) + "\n[/files_normal]\n");
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(Local("up.dat")), content);
    server.ClearRequests();
    RunUpdate();
    EXPECT_TRUE(Contains(server.Requests(), "up.dat.bz2"));
}

TEST_F(UpdateRun, PathsThatLeadOutsideTheInstallFolderAreRefused) {
    TempDir outside;
    const std::string outsideName = outside.Path().substr(outside.Path().rfind('/') + 1);
    std::string list = "[settings]\nRev|3\nModHosts|0\n[/settings]\n[files_normal]\n";
    for (const std::string& path : std::vector<std::string>{"..\\" + outsideName + "\\x", "..\\..\\x", "C:\\x", "C:x", "\\x", "\\\\srv\\x",
                             "\\\\?\\C:\\x", "a\\CON", "nul.txt", "x:stream", "a\\..\\..\\x", "a/../../x", "a\\.\\b",
                             "tab\there", "what?", "trailing.", std::string(outside.Path()) + "/abs"}) {
        PublishPayload("payload-for-attack", "attack");
        list += path + "|" + Md5Hex("attack") + "|10\n";
        server.Misbehave(ReplaceAll(path, "\\", "/") + ".bz2", TestHttpServer::Misbehaviour::WrongBody,
                         Compress("attack"));
    }
    list += EntryLine({"fine.dat", "fine"}) + "\n[/files_normal]\n";
    PublishList(list);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    EXPECT_EQ(ReadBytes(Local("fine.dat")), "fine");
    EXPECT_EQ(server.Requests(), (Statuses{"files.lst.bz2", "fine.dat.bz2"}));
    EXPECT_FALSE(platform::IsFile(outside / "x"));
    EXPECT_FALSE(platform::IsFile(outside / "abs"));
    EXPECT_EQ(window.revisions, Statuses{"3"});
}

TEST_F(UpdateRun, AnUnexpectedErrorStillEndsTheRunWithAReport) {
    for (const std::string& list : {
             std::string("[settings]\nModHosts|0\n[/settings]\n"),                          // no revision
             std::string("[settings]\nRev|1\nModHosts|x\n[/settings]\n"),                   // no number
             std::string("[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\nonly|two\n[/files_normal]\n"),
             std::string("[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\na|b|big\n[/files_normal]\n"),
             std::string("[settings]\nRev|1\nModHosts|0\n[/settings]\n[files_normal]\na|b|-5\n[/files_normal]\n"),
         }) {
        PublishList(list);
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), kFailed) << list;
        EXPECT_FALSE(platform::IsFile(Local("files.lst"))) << list;
        EXPECT_TRUE(window.ImgBtn1Enabled && window.ImgBtn2Enabled) << list;
        EXPECT_EQ(SettingsIni(), "(none)") << list;
    }
}

TEST_F(UpdateRun, TheBaseUrlGetsItsFinalSlash) {
    Publish({{"a", "1"}});
    beforeRun = [&](GFilesThread& worker) { worker.BaseURL = server.BaseUrl().substr(0, server.BaseUrl().size() - 1); };
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
}

TEST_F(UpdateRun, AStagingFolderOverItsBoundIsPrunedBeforeTheRunStages) {
    // What a cut run keeps for an entry is bounded by the queue's payloads; a gigabyte in the entry's
    // resume folder is not the launcher's, and goes before anything is staged (a sparse file: little
    // is written). The entry's payload is an error page, so its folder would otherwise be kept.
    Publish({{"big.dat", "new contents"}});
    const std::string folder = Local(names::ResumeFolderOf("big.dat", Md5Hex("new contents")));
    ASSERT_TRUE(platform::MakeFolders(folder));
    std::string junk = folder + "\\" + std::string(64, 'a');
    std::replace(junk.begin(), junk.end(), '\\', '/');
    WriteBytes(junk, "");
    ASSERT_EQ(truncate(junk.c_str(), off_t(1) << 30), 0);
    server.Misbehave("big.dat.bz2", TestHttpServer::Misbehaviour::ErrorPage);
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kFailed);
    EXPECT_FALSE(platform::IsFolder(folder));
}
