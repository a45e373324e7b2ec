#include "app/MainWindowState.h"

#include "update/StatusTexts.h"

#include <cfenv>
#include <cmath>

namespace {
// A gauge as the window stores both: no border, no text, never shown.
void SetUpGauge(TGauge& gauge, int32_t width, int32_t height, TColor back, TColor fore) {
    gauge.SetWidth(width);
    gauge.SetHeight(height);
    gauge.SetBorderStyle(bsNone);
    gauge.SetShowText(false);
    gauge.SetBackColor(back);
    gauge.SetForeColor(fore);
    gauge.RepaintCount = 0;
}
} // namespace

TMainWindowState::TMainWindowState(TInstallFolder folder) : folder_(std::move(folder)) {
    SetUpGauge(Gauge1, 430, 5, RgbColor(0, 0, 0), RgbColor(62, 91, 150));
    SetUpGauge(Gauge2, 378, 10, RgbColor(160, 160, 164), RgbColor(255, 0, 0));
}

int32_t TMainWindowState::BarWidth(int32_t percentage, int32_t gaugeWidth) {
    // nearbyint rounds exact halves to the even neighbour in the default rounding mode.
    return static_cast<int32_t>(std::nearbyint(static_cast<double>(percentage) * gaugeWidth / 100.0));
}

size_t TMainWindowState::StatusOwnLength(const std::string& status) {
    // Whole texts first: "Загрузка списка обновлений" begins as a download's status does.
    for (const char* text :
         {status::kLoadingList, status::kFailed, status::kAllUpdated, status::kInterrupted, status::kChecking,
          status::kHostsApplying, status::kHostsChanged, status::kSelfFailed})
        if (status == text) return status.size();
    const std::string checking = std::string(status::kChecking) + " ";
    for (const std::string& prefix :
         {std::string(status::kDownloading), std::string(status::kExtracting), checking})
        if (status.compare(0, prefix.size(), prefix) == 0) return prefix.size();
    return status.size(); // any other text is the launcher's own
}

void TMainWindowState::ResizeBar() { Shape1Width = BarWidth(Gauge2.Percentage(), Gauge2.Width()); }

void TMainWindowState::ShowStatus(const std::string& text) {
    Label3Caption = text;
    Changed();
}

void TMainWindowState::SetGaugeMax(int32_t targetGauge, int32_t value) {
    if (targetGauge == 0) {
        Gauge1.SetMaxValue(value);
    } else if (targetGauge == 1) {
        Gauge2.SetMaxValue(value);
        ResizeBar();
    } else {
        return;
    }
    Changed();
}

void TMainWindowState::SetFileProgress(int32_t value) {
    Gauge1.SetProgress(value);
    Changed();
}

void TMainWindowState::SetTotalProgress(int32_t value) {
    Gauge2.SetProgress(value);
    ResizeBar();
    Changed();
}

void TMainWindowState::UpdateRevision(const std::string& revision) {
    folder_.StoreRevision(revision);
}

void TMainWindowState::SetRunButtonsEnabled(bool enabled) {
    ImgBtn1Enabled = enabled;
    ImgBtn2Enabled = enabled;
    Changed();
}
