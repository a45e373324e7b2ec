// The update engine's Win32 pieces for real: WinINet downloads from the loopback server, the hosts
// file of the Wine prefix, and one whole update run.
#include "platform/Platform.h"
#include "support/Misc.h"
#include "tests/common/InlineWindow.h"
#include "tests/common/TestUtil.h"
#include "tests/windows/TestServerEnv.h"
#include "support/Download.h"
#include "support/Hex.h"
#include "support/ListSignature.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishSigning.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace testutil;

namespace {

class Win32Update : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ReadTestServerEnv(&baseUrl, &served));
    }
    void Serve(const std::string& relative, const std::string& bytes) {
        platform::MakeFolders(ExtractFilePath(served + "\\" + relative));
        WriteBytes(served + "\\" + relative, bytes);
    }
    std::string baseUrl, served;
    TempDir client;
};

} // namespace

TEST_F(Win32Update, DownloadsThroughWinInet) {
    TInlineWindow window{TInstallFolder(client.Path())};
    GFilesThread worker(window, window.Folder());
    const std::string body = RandomBytes(100000, 3);
    Serve("body.bin", body);
    Serve("empty.bin", "");
    EXPECT_TRUE(worker.DownloadFile(baseUrl + "body.bin", client / "body.bin", true));
    EXPECT_EQ(ReadBytes(client / "body.bin"), body);
    EXPECT_TRUE(worker.DownloadFile(baseUrl + "empty.bin", client / "empty.bin", true));
    EXPECT_EQ(ReadBytes(client / "empty.bin"), "");
    EXPECT_TRUE(worker.DownloadFile(baseUrl + "missing.bin", client / "page.html", true));
    EXPECT_NE(ReadBytes(client / "page.html").find("Not Found"), std::string::npos);

    WriteBytes(client / "keep", "existing");
    EXPECT_FALSE(worker.DownloadFile("http://no-such-host.invalid/x", client / "keep", true));
    EXPECT_EQ(ReadBytes(client / "keep"), "existing");
    EXPECT_EQ(worker.Progress, 0);
}

TEST_F(Win32Update, ABodyCutShortOrStalledIsNoDownload) {
    TInlineWindow window{TInstallFolder(client.Path())};
    GFilesThread worker(window, window.Folder());
    Serve("half.bin", RandomBytes(200000, 5));
    platform::SetHttpStallTimeout(2);
    // The server announces the whole file, sends half and closes the connection cleanly.
    EXPECT_FALSE(worker.DownloadFile(baseUrl + ".cut/half.bin", client / "cut.bin", true));
    EXPECT_FALSE(platform::IsFile(client / "cut.bin"));
    EXPECT_FALSE(worker.DownloadFile(baseUrl + ".stall/half.bin", client / "stall.bin", true));
    EXPECT_FALSE(platform::IsFile(client / "stall.bin"));
    platform::SetHttpStallTimeout(60);
    EXPECT_TRUE(worker.DownloadFile(baseUrl + "half.bin", client / "whole.bin", true));
    EXPECT_EQ(ReadBytes(client / "whole.bin").size(), 200000u);
}

TEST_F(Win32Update, AddsMappingsToThePrefixHostsFile) {
    const std::string hosts = platform::WindowsFolder() + "\\system32\\drivers\\etc\\hosts";
    platform::MakeFolders(ExtractFilePath(hosts));
    const bool existed = platform::IsFile(hosts);
    const std::string original = existed ? ReadBytes(hosts) : "";
    WriteBytes(hosts, "127.0.0.1 localhost\r\n");
    TInlineWindow window{TInstallFolder(client.Path())};
    GFilesThread worker(window, window.Folder());
    worker.ModifyHosts({"10.1.2.3|game.example"});
    const std::string after = ReadBytes(hosts);
    if (existed) WriteBytes(hosts, original); else platform::RemoveFile(hosts);
    EXPECT_EQ(after, "127.0.0.1 localhost\r\n#-------- Added by DoVevevaz --------\r\n10.1.2.3\tgame.example\r\n"
                     "#-----------------\r\n");
    EXPECT_EQ(window.Label3Caption, "Файл Hosts изменён");
}

TEST_F(Win32Update, AWholeRunInstallsTheServedClientWhateverItsNames) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"system\\zr.exe", RandomBytes(50000, 4)}, {"Game Data\\file with spaces.txt", "spaces"}, {"a#b.txt", "hash"}};
    std::string entries;
    for (auto& [path, content] : files) {
        const std::string packed = Compress(content);
        Serve("run\\" + path + ".bz2", packed);
        entries += path + "|" + Md5Hex(content) + "|" + std::to_string(packed.size()) + "\r\n";
    }
    const std::string settings = "[settings]\r\nRev|4\r\nModHosts|0\r\n[/settings]\r\n";
    Serve("run\\files.lst.bz2", Compress(settings + "[files_critical]\r\n" + entries + "[/files_critical]\r\n"));
    const std::string before = platform::CurrentFolder();
    platform::SetCurrentFolder(client.Path());
    TInlineWindow window{TInstallFolder(client.Path())};
    auto run = [&] {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "run";
        worker.FullCheck = true;
        worker.Execute();
    };
    run();
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    for (auto& [path, content] : files) EXPECT_EQ(ReadBytes(client / path), content) << path;
    EXPECT_FALSE(platform::IsFile(client / "files.lst"));
    EXPECT_EQ(ReadBytes(client / "_settings.ini"), "[main]\r\nAtRevision=4\r\n");

    // A path past the 260-character limit of the ANSI file functions fails alone; the pass goes on.
    const std::string deep = "deep\\" + std::string(150, 'd') + "\\" + std::string(150, 'e') + ".dat";
    const std::string after = Compress("after");
    Serve("run\\after.txt.bz2", after);
    Serve("run\\files.lst.bz2", Compress(settings + "[files_normal]\r\n" + deep + "|" + Md5Hex("x") + "|10\r\n" +
                                             "after.txt|" + Md5Hex("after") + "|" + std::to_string(after.size()) +
                                             "\r\n[/files_normal]\r\n"));
    run();
    platform::SetCurrentFolder(before);
    EXPECT_EQ(window.Label3Caption, "Обновление неудалось");
    EXPECT_EQ(ReadBytes(client / "after.txt"), "after");
    EXPECT_FALSE(platform::IsFile(client / "files.lst"));
}

TEST_F(Win32Update, LinksPlantedFromLinuxOnTheLaunchersNamesAreNeverFollowed) {
    TempDir victim;
    WriteBytes(victim / "file", "victim");
    ASSERT_TRUE(platform::MakeFolders(victim / "folder"));
    WriteBytes(victim / "folder\\keep", "victim");
    for (const char* folder : {"~vandrel-ahead", "backup"}) ASSERT_TRUE(MakeSymbolicLink(victim / "folder", client / folder));
    for (const char* file : {"a.dat.bz2", "a.dat.~up", "files.lst", "files.lst.bz2"})
        ASSERT_TRUE(MakeSymbolicLink(victim / "file", client / file));
    WriteBytes(client / "a.dat", "old a");
    const std::string packed = Compress("new a");
    Serve("links\\a.dat.bz2", packed);
    Serve("links\\files.lst.bz2", Compress("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\na.dat|" +
                                           Md5Hex("new a") + "|" + std::to_string(packed.size()) + "\r\n[/files_normal]\r\n"));
    TInlineWindow window{TInstallFolder(client.Path())};
    const auto run = [&](int32_t makeBackup) {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "links";
        worker.FullCheck = true;
        worker.MakeBackup = makeBackup;
        worker.Execute();
        EXPECT_EQ(ReadBytes(victim / "file"), "victim");
        EXPECT_EQ(ReadBytes(victim / "folder\\keep"), "victim");
        EXPECT_FALSE(platform::IsFile(victim / "folder\\a.dat"));
    };
    // The staging folder's link cannot be removed here without harm to its target: it is left unused
    // and the file is fetched at its turn.
    run(0);
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(client / "a.dat"), "new a");
    // With backups on, a backup folder that is a link nobody can remove fails the run, and nothing is
    // copied through it.
    WriteBytes(client / "a.dat", "old a");
    run(1);
    if (platform::IsLink(client / "backup")) {
        EXPECT_EQ(window.Label3Caption, "Обновление неудалось");
        EXPECT_EQ(ReadBytes(client / "a.dat"), "old a");
    } else { // Windows removes a folder link itself, and the run makes a backup folder of its own
        EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
        EXPECT_EQ(ReadBytes(client / "backup\\a.dat"), "old a");
    }
    for (const char* folder : {"~vandrel-ahead", "backup"}) RemoveSymbolicLink(client / folder);
}

TEST_F(Win32Update, TwoSpellingsOfOneNameDoNotMakeEveryRunFetchAgain) {
    // Windows takes Data\A.txt and data\a.txt for one file: the first entry decides it, and the
    // second one's payload (which this folder could not even hold beside the first) is never asked for.
    const std::string packed = Compress("first");
    Serve("cases\\Data\\A.txt.bz2", packed);
    const std::string entries = "Data\\A.txt|" + Md5Hex("first") + "|" + std::to_string(packed.size()) +
                                "\r\ndata\\a.txt|" + Md5Hex("second") + "|10\r\n";
    Serve("cases\\files.lst.bz2",
          Compress("[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n" + entries + "[/files_normal]\r\n"));
    TInlineWindow window{TInstallFolder(client.Path())};
    for (const char* closing : {"Все файлы обновлены", ""}) {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "cases";
        worker.FullCheck = true;
        worker.Execute();
        EXPECT_EQ(window.Label3Caption, closing);
        EXPECT_EQ(ReadBytes(client / "data\\a.txt"), "first");
    }
}

TEST_F(Win32Update, ChunksAndTheRestOfACutPayloadComeThroughWinInet) {
    // Body bytes the server sent for a URL path, from its log.
    const auto sent = [](const std::string& path) {
        uint64_t total = 0;
        const std::string log = ReadBytes(getenv("VANDREL_TEST_SERVER_BYTES"));
        for (size_t at = 0; (at = log.find(path + " ", at)) != std::string::npos; at += path.size())
            if (at == 0 || log[at - 1] == '\n') total += std::stoull(log.substr(at + path.size() + 1));
        return total;
    };
    std::string old;
    for (int i = 0; i < 30; ++i) old += RandomBytes(40000, i) + std::string(40000, char('a' + i));
    std::string fresh = old + RandomBytes(200000, 77);
    fresh.insert(500000, "inserted");
    const std::string packed = Compress(fresh);
    Serve("delta\\archive.pak.bz2", packed);
    ServeChunks(served + "\\delta", "archive.pak", fresh);
    Serve("delta\\files.lst.bz2", Compress("[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\narchive.pak|" +
                                           Md5Hex(fresh) + "|" + std::to_string(packed.size()) + "\r\n[/files_normal]\r\n"));
    TInlineWindow window{TInstallFolder(client.Path())};
    const auto run = [&] {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "delta";
        worker.FullCheck = true;
        worker.Execute();
    };
    WriteBytes(client / "archive.pak", old);
    run();
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(Md5OfFile(client / "archive.pak"), Md5Hex(fresh));
    EXPECT_EQ(sent("delta/archive.pak.bz2"), 0u);
    EXPECT_GT(sent("delta/archive.pak.chunks"), 0u);

    // Without an old file, the payload; cut once by the server, then taken up where it broke off.
    platform::RemoveFile(client / "archive.pak");
    std::string answer;
    ASSERT_EQ(DownloadToMemory(baseUrl + ".control/cutonce/delta/archive.pak.bz2", 100, &answer),
              TDownloadResult::Complete);
    run();
    EXPECT_EQ(window.Label3Caption, "Обновление неудалось");
    const uint64_t firstRun = sent("delta/archive.pak.bz2");
    run();
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(Md5OfFile(client / "archive.pak"), Md5Hex(fresh));
    EXPECT_LE(sent("delta/archive.pak.bz2") - firstRun, packed.size() / 2 + 1);
}

TEST_F(Win32Update, ASignedRunTakesOnlyTheSetItsKeySigned) {
    TListPublicKey publicKey{};
    TListSecretKey secretKey{};
    GenerateListKeyPair(&publicKey, &secretKey);
    const std::string packed = Compress("signed");
    Serve("signed\\a.txt.bz2", packed);
    Serve("signed\\files.lst.bz2", Compress("[settings]\r\nRev|3\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\na.txt|" +
                                            Md5Hex("signed") + "|" + std::to_string(packed.size()) +
                                            "\r\n[/files_critical]\r\n"));
    publish::WriteListSignature(served + "\\signed", secretKey);
    const std::string before = platform::CurrentFolder();
    platform::SetCurrentFolder(client.Path());
    TInlineWindow window{TInstallFolder(client.Path())};
    auto run = [&] {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "signed";
        worker.FullCheck = true;
        worker.ListPublicKey = ToHex(publicKey.data(), publicKey.size());
        worker.Execute();
    };
    run();
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(client / "a.txt"), "signed");
    // The list changed after signing: refused, and nothing of it reaches the folder.
    platform::RemoveFile(client / "a.txt");
    Serve("signed\\files.lst.bz2", ReadBytes(served + "\\signed\\files.lst.bz2") + "x");
    run();
    platform::SetCurrentFolder(before);
    EXPECT_EQ(window.Label3Caption, "Обновление неудалось");
    EXPECT_FALSE(platform::IsFile(client / "a.txt"));
    EXPECT_FALSE(platform::IsFile(client / "files.lst.bz2"));
    EXPECT_FALSE(platform::IsFile(client / "files.lst.bz2.sig"));
}

TEST_F(Win32Update, ObjectsComeFromTheSecondMirrorWhenTheFirstRefusesConnections) {
    // A set published with objects and two mirrors: one that refuses every connection, and a copy of
    // the set elsewhere on the server.
    TempDir source;
    WriteBytes(source / "game.pak", RandomBytes(300000, 21));
    WriteBytes(source / "readme.txt", "mirrored");
    publish::PublishOptions options;
    options.clientDir = source.Path();
    options.outDir = served + "\\objects";
    options.mirrors = {"http://127.0.0.1:1/", baseUrl + "mirror2/"};
    publish::Publish(options);
    const std::string copy = served + "\\mirror2";
    for (const std::string& folder : platform::ListFolder(options.outDir + "\\vandrel-objects")) {
        ASSERT_TRUE(platform::MakeFolders(copy + "\\vandrel-objects\\" + folder));
        for (const std::string& name : platform::ListFolder(options.outDir + "\\vandrel-objects\\" + folder))
            ASSERT_TRUE(platform::CopyFileReplacing(options.outDir + "\\vandrel-objects\\" + folder + "\\" + name,
                                                    copy + "\\vandrel-objects\\" + folder + "\\" + name));
    }
    TInlineWindow window{TInstallFolder(client.Path())};
    GFilesThread worker(window, window.Folder());
    worker.BaseURL = baseUrl + "objects";
    worker.FullCheck = true;
    worker.Execute();
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(client / "game.pak"), ReadBytes(source / "game.pak"));
    EXPECT_EQ(ReadBytes(client / "readme.txt"), "mirrored");
    // Both objects came from the second mirror, none from beside the list.
    const std::string log = ReadBytes(getenv("VANDREL_TEST_SERVER_LOG"));
    size_t fromMirror = 0, fromBase = 0;
    for (size_t at = 0; (at = log.find("vandrel-objects/", at)) != std::string::npos; ++at) {
        const size_t line = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
        const std::string request = log.substr(line, at - line);
        fromMirror += request == "mirror2/";
        fromBase += request == "objects/";
    }
    EXPECT_EQ(fromMirror, 2u);
    EXPECT_EQ(fromBase, 0u);
}

TEST_F(Win32Update, ARebuiltProgramComesAsAPatchAndADamagedPatchFallsToThePayload) {
    TempDir source;
    publish::PublishOptions options;
    options.clientDir = source.Path();
    options.outDir = served + "\\patched";
    options.chunks = true;
    options.chunkMinFile = 1 << 20;
    for (int version : {1, 2}) {
        WriteBytes(source / "game.exe", RebuiltProgram(version));
        publish::Publish(options);
    }
    TInlineWindow window{TInstallFolder(client.Path())};
    const auto run = [&] {
        WriteBytes(client / "game.exe", RebuiltProgram(1));
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = baseUrl + "patched";
        worker.FullCheck = true;
        worker.RetryPolicy.firstPauseMs = 10;
        worker.Execute();
        EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
        EXPECT_EQ(Md5OfFile(client / "game.exe"), Md5Hex(RebuiltProgram(2)));
    };
    const auto requested = [&](const std::string& suffix) {
        const std::string log = ReadBytes(getenv("VANDREL_TEST_SERVER_LOG"));
        size_t count = 0;
        for (size_t at = 0; (at = log.find(suffix + "\n", at)) != std::string::npos; ++at)
            count += log.compare(log.rfind('\n', at) + 1, 24, "patched/vandrel-objects/") == 0;
        return count;
    };
    run();
    EXPECT_EQ(requested(".patch"), 1u);
    EXPECT_EQ(requested(".bz2"), 0u);
    // Every patch object damaged: the same run takes the chunks or the payload.
    for (const std::string& folder : platform::ListFolder(options.outDir + "\\vandrel-objects"))
        for (const std::string& name : platform::ListFolder(options.outDir + "\\vandrel-objects\\" + folder))
            if (name.size() > 6 && name.compare(name.size() - 6, 6, ".patch") == 0)
                WriteBytes(options.outDir + "\\vandrel-objects\\" + folder + "\\" + name, "damaged");
    run();
    EXPECT_EQ(requested(".patch"), 2u);
}
