// The main window's actions under Wine: play, the links handed to the shell, and the news page.
#include "tests/windows/MainWindowFixture.h"

using namespace testutil;

TEST_F(MainWindow, PlayStartsTheGameInItsFolderAndClosesOrShowsTheError) {
    Open();
    window->ImgBtn1.Button.OnClick();
    Pump(50);
    ASSERT_EQ(errors, std::vector<std::string>{"I/O error 3"}); // no game folder
    EXPECT_TRUE(IsWindow(window->Handle()));
    EXPECT_EQ(platform::CurrentFolder(), client.Path());

    const char* marker = getenv("VANDREL_MARKER");
    ASSERT_TRUE(marker);
    platform::MakeFolders(client / "system");
    ASSERT_TRUE(platform::CopyFileReplacing(marker, client / "system\\zr.exe"));
    window->ImgBtn1.Button.OnClick();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window->Handle()); }, 2000));
    EXPECT_TRUE(PumpUntil([&] { return platform::IsFile(client / "system\\started-here.txt"); }, 10000));
    EXPECT_EQ(ReadBytes(client / "system\\started-here.txt"), client / "system");
    EXPECT_FALSE(window->Config); // released when the window closed
    platform::SetCurrentFolder(client.Path());
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the closed main window ended the loop
}

TEST_F(MainWindow, LinksReachTheShellWithTheirUrls) {
    const char* browser = getenv("VANDREL_TEST_BROWSER");
    ASSERT_TRUE(browser);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser),
                   static_cast<DWORD>(strlen(browser) + 1));
    RegCloseKey(key);
    Open();
    window->ImgBtn5.Button.OnClick();
    window->ImgBtn6.Button.OnClick();
    window->ImgBtn7.Button.OnClick();
    window->Image2.OnClick();
    const std::string links = getenv("VANDREL_TEST_LINKS");
    const auto opened = [&] {
        std::set<std::string> lines;
        const std::string text = ReadIfThere(links);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.insert(text.substr(start, end - start));
        return lines;
    };
    EXPECT_TRUE(PumpUntil([&] { return opened().size() >= 4; }, 20000));
    EXPECT_EQ(opened(), (std::set<std::string>{"http://site.test/", "http://forum.test/forum.php",
                                               "https://site.test/account/?action=registration",
                                               "http://designer.test/"}));
}

TEST_F(MainWindow, NewsPageLoadsAfterTheFirstTickAndThePanelShowsOnCompletion) {
    Serve("news.html", "<html><body>News</body></html>");
    const auto newsRequests = [&] {
        int count = 0;
        for (const std::string& path : ServerLog()) count += path == "news.html";
        return count;
    };
    const int earlier = newsRequests();
    Open();
    Pump(400);
    EXPECT_EQ(newsRequests(), earlier); // nothing before Timer1's first tick
    EXPECT_EQ(window->Label3.Caption(), "... Загрузка ...");
    EXPECT_TRUE(PumpUntil([&] { return newsRequests() > earlier; }, 10000));
    EXPECT_EQ(window->Label3.Caption(), "");
    EXPECT_FALSE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    // Wine has no page engine here, so completion is delivered to the event sink as the control would.
    DISPPARAMS none{};
    window->WebBrowser1.EventSink()->Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                            nullptr, nullptr);
    EXPECT_TRUE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(errors.empty()); // the control took the navigation
}
