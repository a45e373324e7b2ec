// The launcher's main window: a borderless 800 x 599 window cut to its background picture, with the
// news browser, the status line, the red progress bar and the image buttons. It draws what an update
// run changes (TMainWindowState) and runs the worker's synchronised calls on its own thread.
#pragma once

#include "app/LauncherConfig.h"
#include "app/MainWindowState.h"
#include "app/NewsBrowser.h"
#include "app/SynchronizedCalls.h"
#include "update/RunControl.h"
#include "widgets/SkinForm.h"

#include <functional>
#include <memory>

class TFMain : public TSkinForm, public TMainWindowState {
public:
    // Creates the window, runs FormCreate (an error there is shown and start-up goes on) and leaves
    // the window hidden; Show() shows it.
    // folder: the install folder, made once at start-up. owner: the application window that carries
    // the taskbar button, or null.
    explicit TFMain(const TInstallFolder& folder, const TBranding& branding = BuiltInBranding(), HWND owner = nullptr);
    ~TFMain() override;
    void Show();

    // Components in their stored order (Panel1 and WebBrowser1 are windows of their own).
    TImage Image1{0, 0, 800, 599, false};
    TGaugeControl Gauge1Control{199, 579, Gauge1, false};
    TGaugeControl Gauge2Control{207, 484, Gauge2, false};
    TLabel Label3{176, 456, 429, 13, true};
    TImgBtnControl ImgBtn1{657, 440, 89, 126}; // play
    TImgBtnControl ImgBtn2{288, 532, 106, 34}; // update
    TImgBtnControl ImgBtn3{407, 532, 106, 34}; // cancel
    TImgBtnControl ImgBtn4{769, 16, 16, 16};   // close
    TLabel Label4{342, 266, 93, 13, false};
    TImage Image2{48, 567, 133, 26, true};      // the designer's credit
    TImage Image3{348, 20, 100, 16, true};      // the title lettering
    TImgBtnControl ImgBtn5{302, 436, 46, 15};  // site
    TImgBtnControl ImgBtn6{350, 436, 56, 15};  // forum
    TImgBtnControl ImgBtn7{406, 436, 91, 15};  // registration
    TShape Shape1{207, 484, 0, 10, false};      // the overall progress bar
    TImgBtnControl ImgBtn8{497, 436, 76, 15};  // the game settings dialog
    HWND Panel1 = nullptr;
    TNewsBrowser WebBrowser1;

    // The configuration list: from FormCreate until FormClose.
    std::unique_ptr<LauncherConfig> Config;

    // Handlers.
    void FormCreate();
    void FormClose();
    void ImgBtn1Click();
    void ImgBtn2Click();
    void ImgBtn3Click();
    void ImgBtn4Click();
    void ImgBtn5Click();
    void ImgBtn6Click();
    void ImgBtn7Click();
    void ImgBtn8Click();
    void Image2Click();
    void Timer1Timer();
    void WebBrowser1NavigateComplete2();
    // UpdateRevision is TMainWindowState's: it stores through the install folder, so a run that ends
    // after the window has closed never reads the released configuration list.

    // Runs fn on this window's thread through a sent message and waits; fn's exception comes back.
    void Synchronize(const std::function<void()>& fn) override;
    // Whether an update run started here has not ended yet.
    bool RunInProgress() const { return run_ && !run_->Finished(); }
    // Opens the settings dialog (set once the dialog exists).
    std::function<void()> OnOpenSettings;
    // Called as the window closes, before the configuration list is released.
    std::function<void()> OnClosing;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    void LoadSkin();
    void ShowRunState();

    TInstallFolder folder_;
    TBranding branding_;
    std::shared_ptr<TRunControl> run_;
    DWORD uiThread_;
    OwnedTimer timer1_; // Timer1: one tick, a second after the window is made
    TSynchronizedCalls syncCalls_;
    HWND syncWindow_ = nullptr; // set once the window exists; workers read it, never Handle()
};
