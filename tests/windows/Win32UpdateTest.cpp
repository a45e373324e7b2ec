// The update engine's Win32 pieces for real: WinINet downloads from the loopback server, the hosts
// file of the Wine prefix, and one whole update run.
#include "app/MainWindowState.h"
#include "platform/Platform.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

class TInlineWindow : public TMainWindowState {
public:
    using TMainWindowState::TMainWindowState;
    void Synchronize(const std::function<void()>& fn) override { fn(); }
};

class Win32Update : public ::testing::Test {
protected:
    void SetUp() override {
        const char* url = getenv("VANDREL_TEST_SERVER");
        const char* root = getenv("VANDREL_TEST_SERVER_ROOT");
        ASSERT_TRUE(url && root) << "run through tests/windows/run-with-server";
        baseUrl = url;
        served = root;
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
    TInlineWindow window(client.Path() + "\\");
    GFilesThread worker(window);
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

TEST_F(Win32Update, AddsMappingsToThePrefixHostsFile) {
    const std::string hosts = platform::WindowsFolder() + "\\system32\\drivers\\etc\\hosts";
    platform::MakeFolders(ExtractFilePath(hosts));
    const bool existed = platform::IsFile(hosts);
    const std::string original = existed ? ReadBytes(hosts) : "";
    WriteBytes(hosts, "127.0.0.1 localhost\r\n");
    TInlineWindow window(client.Path() + "\\");
    GFilesThread worker(window);
    worker.ModifyHosts({"10.1.2.3|game.example"});
    const std::string after = ReadBytes(hosts);
    if (existed) WriteBytes(hosts, original); else platform::RemoveFile(hosts);
    EXPECT_EQ(after, "127.0.0.1 localhost\r\n#-------- Added by DoVevevaz --------\r\n10.1.2.3\tgame.example\r\n"
                     "#-----------------\r\n");
    EXPECT_EQ(window.Label3Caption, "Файл Hosts изменён");
}

TEST_F(Win32Update, AWholeRunInstallsTheServedClient) {
    const std::string game = RandomBytes(50000, 4);
    const std::string packed = Compress(game);
    Serve("run\\system\\zr.exe.bz2", packed);
    Serve("run\\files.lst.bz2",
          Compress("[settings]\r\nRev|4\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nsystem\\zr.exe|" +
                   Md5Hex(game) + "|" + std::to_string(packed.size()) + "\r\n[/files_critical]\r\n"));
    const std::string before = platform::CurrentFolder();
    platform::SetCurrentFolder(client.Path());
    TInlineWindow window(client.Path() + "\\");
    GFilesThread worker(window);
    worker.BaseURL = baseUrl + "run";
    worker.FullCheck = true;
    worker.Execute();
    platform::SetCurrentFolder(before);
    EXPECT_EQ(window.Label3Caption, "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(client / "system\\zr.exe"), game);
    EXPECT_FALSE(platform::IsFile(client / "files.lst"));
    EXPECT_EQ(ReadBytes(client / "_settings.ini"), "[main]\r\nAtRevision=4\r\n");
}
