// An update run started from the main window under Wine: the worker's synchronised calls, the status
// texts it shows, and the window following the run.
#include "tests/windows/MainWindowFixture.h"

using namespace testutil;

TEST_F(MainWindow, RunsOnlyTheSynchronisedCallsOfItsOwnWorker) {
    Open();
    // What any program can send: the window's private message with a pointer of its choosing, laid
    // out as the launcher's own pending call once was.
    bool planted = false;
    const std::function<void()> call = [&] { planted = true; };
    struct {
        const std::function<void()>* fn;
        std::exception_ptr error;
    } forged{&call, nullptr};
    for (WPARAM guess = 0; guess < 4; ++guess)
        SendMessageW(window->Handle(), WM_APP + 1, guess, reinterpret_cast<LPARAM>(&forged));
    EXPECT_FALSE(planted);

    // The worker's own calls run on the window's thread, and their exceptions come back to it.
    DWORD ranOn = 0;
    std::string raised;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        window->Synchronize([&] { ranOn = GetCurrentThreadId(); });
        try {
            window->Synchronize([] { throw Exception("refused"); });
        } catch (const Exception& error) {
            raised = error.what();
        }
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    EXPECT_EQ(raised, "refused");
}

TEST_F(MainWindow, StatusTextsShowFileNamesInTheAnsiCodePage) {
    Open();
    // The pixels a label draws with a caption, next to the pixels of Label3.
    const auto pixels = [](TLabel& label) {
        uint32_t* bits = nullptr;
        gdi::Bitmap target = gdi::CreateDib(label.Width, label.Height, &bits);
        {
            gdi::MemoryDC dc(gdi::ClientDC(nullptr).Get(), target.Get());
            label.Paint(dc.Get());
        }
        GdiFlush();
        return std::vector<uint32_t>(bits, bits + label.Width * label.Height);
    };
    TLabel shown(0, 0, window->Label3.Width, window->Label3.Height, true);
    shown.Font = window->Label3.Font;
    shown.FontColor = window->Label3.FontColor;
    shown.Alignment = window->Label3.Alignment;
    const auto utf8 = [](const std::wstring& wide) {
        std::string text(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr,
                                                                 nullptr)),
                         '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr,
                            nullptr);
        text.pop_back();
        return text;
    };
    // A name from the update list whose bytes happen to be valid UTF-8 ("\xC3\xA9" is "é" there).
    const std::string name = "data\\\xC3\xA9t\xC3\xA9.pak";
    wchar_t ansi[32] = {};
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, ansi, 32);
    for (const char* prefix : {status::kDownloading, status::kExtracting}) {
        window->ShowStatus(prefix + name);
        shown.SetCaption(prefix + utf8(ansi));
        EXPECT_TRUE(pixels(window->Label3) == pixels(shown)) << prefix;
    }
    window->ShowStatus(std::string(status::kChecking) + " " + name);
    shown.SetCaption(std::string(status::kChecking) + " " + utf8(ansi));
    EXPECT_TRUE(pixels(window->Label3) == pixels(shown));
    // The launcher's own texts, also the one that begins as a file's status does.
    for (const char* text : {status::kLoadingList, status::kAllUpdated, status::kHostsChanged}) {
        window->ShowStatus(text);
        shown.SetCaption(text);
        EXPECT_TRUE(pixels(window->Label3) == pixels(shown)) << text;
    }
}

TEST_F(MainWindow, UpdateButtonRunsOneUpdateAndTheWindowFollowsIt) {
    const std::string game = RandomBytes(300000, 8);
    const std::string packed = Compress(game);
    Serve("set\\system\\zr.exe.bz2", packed);
    Serve("set\\files.lst.bz2",
          Compress("[settings]\r\nRev|9\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nsystem\\zr.exe|" +
                   Md5Hex(game) + "|" + std::to_string(packed.size()) + "\r\n[/files_critical]\r\n"));
    Open();
    const auto listRequests = [&] {
        int count = 0;
        for (const std::string& path : ServerLog()) count += path == "set/files.lst.bz2";
        return count;
    };
    const int earlier = listRequests();
    window->ImgBtn3.Button.OnClick(); // cancel with no run does nothing
    window->ImgBtn2.Button.OnClick();
    window->ImgBtn2.Button.OnClick(); // a second press before the run disabled the button
    EXPECT_TRUE(window->Shape1.Visible());
    EXPECT_TRUE(PumpUntil([&] { return !window->RunInProgress(); }, 30000));
    Pump(50);
    EXPECT_EQ(listRequests() - earlier, 1);
    EXPECT_EQ(window->Label3.Caption(), "Все файлы обновлены");
    // The install pass ends by setting the overall position back to 0: the bar stays, empty.
    EXPECT_TRUE(window->Shape1.Visible());
    EXPECT_EQ(window->Shape1.Width, 0);
    EXPECT_TRUE(window->ImgBtn1.Enabled() && window->ImgBtn2.Enabled());
    EXPECT_EQ(Md5OfFile(client / "system\\zr.exe"), Md5Hex(game));
    EXPECT_NE(ReadBytes(client / "_settings.ini").find("AtRevision=9"), std::string::npos);
    EXPECT_TRUE(errors.empty());

    // Built with a public key, the launcher asks for the list's signature, which this set lacks.
    TBranding keyed = Branding();
    keyed.ListPublicKey = std::string(64, 'a');
    window.reset();
    window = std::make_unique<TFMain>(TInstallFolder::Current(), keyed);
    window->Show();
    window->ImgBtn2.Button.OnClick();
    EXPECT_TRUE(PumpUntil([&] { return !window->RunInProgress(); }, 30000));
    Pump(50);
    EXPECT_EQ(window->Label3.Caption(), "Обновление неудалось");
    const std::vector<std::string> log = ServerLog();
    EXPECT_EQ(log.back(), "set/files.lst.bz2.sig");
}
