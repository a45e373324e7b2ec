#include "app/UnitMain.h"

#include "platform/Errors.h"
#include "platform/Platform.h"
#include "support/IniFile.h"
#include "support/Misc.h"
#include "update/GetFilesThr.h"
#include "widgets/Shell.h"

namespace {
const UINT kSynchronizeMessage = WM_APP + 1;
const UINT kAfterFirstFrameMessage = WM_APP + 2;
const UINT_PTR kTimer1 = 1;
const wchar_t kPanelClass[] = L"VandrelPanel";

void LoadButton(TImgBtnControl& button, const wchar_t* normal, const wchar_t* down, const wchar_t* up) {
    button.Pic = LoadSkinBitmap(normal);
    button.PicDown = LoadSkinBitmap(down);
    button.PicUp = LoadSkinBitmap(up);
}

HWND CreatePanel(HWND parent, int left, int top, int width, int height) {
    RegisterWindowClass(kPanelClass, DefWindowProcW, 0, GetSysColorBrush(COLOR_BTNFACE));
    // No bevel, flat, no frame; hidden until the news page has been reached; not a Tab stop.
    return CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_CLIPCHILDREN, left, top, width, height, parent,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}
} // namespace

TFMain::TFMain(const TInstallFolder& folder, const TBranding& branding, HWND owner)
    : TMainWindowState(folder), folder_(folder), branding_(branding), uiThread_(GetCurrentThreadId()) {
    for (TGraphicControl* control :
         std::initializer_list<TGraphicControl*>{&Image1, &Gauge1Control, &Gauge2Control, &Label3, &ImgBtn1, &ImgBtn2,
                                                 &ImgBtn3, &ImgBtn4, &Label4, &Image2, &Image3, &ImgBtn5, &ImgBtn6,
                                                 &ImgBtn7, &Shape1, &ImgBtn8})
        AddControl(*control);
    Label3.Font = SkinFont();
    Label3.FontColor = RgbColor(128, 0, 0);
    Label3.Alignment = DT_CENTER;
    Label3.SetCaption(Label3Caption);
    Label4.Font = SkinFont();
    Label4.FontColor = RgbColor(255, 128, 0);
    Shape1.BrushColor = RgbColor(255, 0, 0);
    Image2.Cursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND));
    LoadSkin();

    const auto wire = [](TImgBtnControl& button, std::function<void()> handler) {
        button.Button.OnClick = [handler] { RunGuarded(handler); };
    };
    wire(ImgBtn1, [this] { ImgBtn1Click(); });
    wire(ImgBtn2, [this] { ImgBtn2Click(); });
    wire(ImgBtn3, [this] { ImgBtn3Click(); });
    wire(ImgBtn4, [this] { ImgBtn4Click(); });
    wire(ImgBtn5, [this] { ImgBtn5Click(); });
    wire(ImgBtn6, [this] { ImgBtn6Click(); });
    wire(ImgBtn7, [this] { ImgBtn7Click(); });
    wire(ImgBtn8, [this] { ImgBtn8Click(); });
    Image2.OnClick = [this] { RunGuarded([this] { Image2Click(); }); };
    OnChanged = [this] { ShowRunState(); };
    WebBrowser1.OnNavigateComplete2 = [this] { RunGuarded([this] { WebBrowser1NavigateComplete2(); }); };

    TFormParams window;
    window.ClassName = L"VandrelSkinForm";
    window.Caption = L"FormMain";
    window.ClientWidth = 800;
    window.ClientHeight = 599;
    window.Owner = owner;
    window.Style = WS_SYSMENU | WS_MINIMIZEBOX;
    CreateHandle(window);
    syncWindow_ = Handle();
    Panel1 = CreatePanel(Handle(), 7, 37, 786, 379);
    timer1_ = OwnedTimer(SetTimer(Handle(), kTimer1, 1000, nullptr), TimerTraits{Handle()});
    RunGuarded([this] { FormCreate(); });
}

TFMain::~TFMain() = default;

void TFMain::Show() {
    SetApplicationWindow(Handle());
    if (HWND application = GetWindow(Handle(), GW_OWNER)) ShowWindow(application, SW_SHOWNA);
    ShowWindow(Handle(), SW_SHOWNORMAL);
    UpdateWindow(Handle());
}

void TFMain::LoadSkin() {
    Image1.Picture = LoadSkinBitmap(L"BACKGROUND");
    Image2.Picture = LoadSkinBitmap(L"CREDIT");
    Image3.Picture = LoadSkinBitmap(L"TITLE");
    LoadButton(ImgBtn1, L"PLAY_NORMAL", L"PLAY_DOWN", L"PLAY_HOVER");
    LoadButton(ImgBtn2, L"UPDATE_NORMAL", L"UPDATE_DOWN", L"UPDATE_HOVER");
    LoadButton(ImgBtn3, L"CANCEL_NORMAL", L"CANCEL_DOWN", L"CANCEL_HOVER");
    LoadButton(ImgBtn4, L"CLOSE_NORMAL", L"CLOSE_DOWN", L"CLOSE_HOVER");
    // The links have one highlighted picture for hover and pressed.
    LoadButton(ImgBtn5, L"SITE_NORMAL", L"SITE_HOVER", L"SITE_HOVER");
    LoadButton(ImgBtn6, L"FORUM_NORMAL", L"FORUM_HOVER", L"FORUM_HOVER");
    LoadButton(ImgBtn7, L"REGISTER_NORMAL", L"REGISTER_HOVER", L"REGISTER_HOVER");
    LoadButton(ImgBtn8, L"SETTINGS_NORMAL", L"SETTINGS_HOVER", L"SETTINGS_HOVER");
}

void TFMain::FormCreate() {
    for (TImgBtnControl* button : {&ImgBtn1, &ImgBtn2, &ImgBtn3, &ImgBtn4, &ImgBtn5, &ImgBtn6, &ImgBtn7, &ImgBtn8})
        button->Button.ShowPic();
    Config = std::make_unique<LauncherConfig>(BuildLauncherConfig(folder_, branding_));
    // The desktop shortcut is written, and the hidden news browser created, as soon as the first
    // frame is on screen: together they take tens of milliseconds the player would otherwise wait
    // for a window. The message is the first in the queue, ahead of any input and of Timer1.
    PostMessageW(Handle(), kAfterFirstFrameMessage, 0, 0);
    SetBackgroundPicture(Image1.Picture.Get());
    ApplySkinRegion(Image1.Picture.Get());
}

void TFMain::FormClose() {
    if (OnClosing) OnClosing();
    Config.reset();
}

// ---- actions -----------------------------------------------------------------------------------

void TFMain::ImgBtn1Click() {
    RunProgram((*Config)[SlotInstallDir] + (*Config)[SlotGameExe]);
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TFMain::ImgBtn2Click() {
    if (RunInProgress()) return; // a second press before the run has disabled the button
    Shape1Visible = true;
    ShowStatus("");
    auto worker = std::make_unique<GFilesThread>(*this, folder_);
    worker->SetCancelled(false);
    worker->BaseURL = (*Config)[SlotUpdateUrl];
    worker->FullCheck = true;
    worker->MakeBackup = StrToInt((*Config)[SlotCreateBackup]);
    worker->CurrentRevision = StrToInt((*Config)[SlotRevision]);
    worker->ListPublicKey = branding_.ListPublicKey;
    run_ = GFilesThread::Resume(std::move(worker));
}

void TFMain::ImgBtn3Click() {
    if (!RunInProgress()) return;
    run_->Terminated = true;
    run_->Cancelled = true;
}

void TFMain::ImgBtn4Click() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }
void TFMain::ImgBtn5Click() { OpenLink(Handle(), branding_.SiteUrl); }
void TFMain::ImgBtn6Click() { OpenLink(Handle(), branding_.ForumUrl); }
void TFMain::ImgBtn7Click() { OpenLink(Handle(), branding_.RegisterUrl); }
void TFMain::Image2Click() { OpenLink(Handle(), branding_.DesignerUrl); }

void TFMain::ImgBtn8Click() {
    if (OnOpenSettings) OnOpenSettings();
}

void TFMain::Timer1Timer() {
    timer1_.Reset(); // one tick only
    if (Config) WebBrowser1.Navigate((*Config)[SlotNewsUrl]);
    ShowStatus("");
}

void TFMain::WebBrowser1NavigateComplete2() { ShowWindow(Panel1, SW_SHOW); }

// ---- what a run changes ------------------------------------------------------------------------

void TFMain::ShowRunState() {
    const size_t own = StatusOwnLength(Label3Caption);
    Label3.SetCaption(Label3Caption.substr(0, own), Label3Caption.substr(own));
    Shape1.SetBounds(207, 484, Shape1Width, 10);
    Shape1.SetVisible(Shape1Visible);
    ImgBtn1.SetEnabled(ImgBtn1Enabled);
    ImgBtn2.SetEnabled(ImgBtn2Enabled);
}

void TFMain::Synchronize(const std::function<void()>& fn) {
    if (GetCurrentThreadId() == uiThread_) {
        fn();
        return;
    }
    syncCalls_.Call(fn, [this](uintptr_t token) {
        SendMessageW(syncWindow_, kSynchronizeMessage, static_cast<WPARAM>(token), 0);
    });
}

bool TFMain::HandleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
    switch (message) {
    case kSynchronizeMessage: // the message names the waiting call by number only
        *result = syncCalls_.Run(static_cast<uintptr_t>(wParam)) ? 1 : 0;
        return true;
    case kAfterFirstFrameMessage:
        // Without a browser control the panel stays hidden and Timer1 navigates nowhere.
        static_cast<void>(WebBrowser1.Create(Panel1, 786, 379));
        RunGuarded([this] {
            if (Config) CreateDesktopShortcut((*Config)[SlotShortcutName], (*Config)[SlotInstallDir], "Play Tessel");
        });
        *result = 0;
        return true;
    case WM_TIMER:
        if (wParam != kTimer1) return false;
        RunGuarded([this] { Timer1Timer(); });
        *result = 0;
        return true;
    case WM_CLOSE:
        RunGuarded([this] { FormClose(); });
        DestroyWindow(Handle());
        *result = 0;
        return true;
    case WM_DESTROY:
        static_cast<void>(timer1_.Release()); // the system kills a window's timers with it
        PostQuitMessage(0);
        *result = 0;
        return true;
    default: return false;
    }
}
