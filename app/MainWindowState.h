// What an update run changes on the main window, kept apart from drawing: the status line, the two
// gauges, the overall progress bar's width, the play and update buttons, and the revision store.
// The Win32 window draws this state; tests read it.
#pragma once

#include "support/InstallFolder.h"
#include "update/UpdateWindow.h"
#include "widgets/Gauges.h"

#include <functional>
#include <string>

class TMainWindowState : public IUpdateWindow {
public:
    // folder: where the revision a run reaches is stored.
    explicit TMainWindowState(TInstallFolder folder);

    void ShowStatus(const std::string& text) override;
    void SetGaugeMax(int32_t targetGauge, int32_t value) override;
    void SetFileProgress(int32_t value) override;
    void SetTotalProgress(int32_t value) override;
    void UpdateRevision(const std::string& revision) override;
    void SetRunButtonsEnabled(bool enabled) override;

    std::string Label3Caption = "... Загрузка ...";
    TGauge Gauge1; // per file: 430 pixels wide, never shown
    TGauge Gauge2; // overall: 378 pixels wide, never shown; sizes Shape1
    int32_t Shape1Width = 0;
    bool Shape1Visible = false;
    bool ImgBtn1Enabled = true; // play
    bool ImgBtn2Enabled = true; // update
    // Called after every change, so a window can repaint.
    std::function<void()> OnChanged;

    const TInstallFolder& Folder() const { return folder_; }

    // The bar's width: Gauge2's percentage of its width, halves rounded to the even neighbour.
    static int32_t BarWidth(int32_t percentage, int32_t gaugeWidth);
    // How many leading bytes of a status text are the launcher's own words (UTF-8); what follows is a
    // name from the update list, in the ANSI code page. A status is one of the run's texts as a whole,
    // or "Загрузка ", "Извлечение " or "Проверка файлов " followed by a name.
    static size_t StatusOwnLength(const std::string& status);

private:
    void ResizeBar();
    void Changed() {
        if (OnChanged) OnChanged();
    }

    TInstallFolder folder_;
};
