// The main window as the update worker sees it. The worker never touches the window directly: it
// calls these effects through Synchronize, which runs them on the user-interface thread while the
// worker waits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class IUpdateWindow {
public:
    virtual ~IUpdateWindow() = default;

    // Runs fn on the user-interface thread and waits; an exception fn raises is raised again here.
    // The worker holds on to the window for its whole run and may be waiting here at any moment: that
    // is why closing the window during a run ends the process at once instead of waiting for the run
    // (every file it touches is old or new at any moment, so nothing is lost).
    virtual void Synchronize(const std::function<void()>& fn) = 0;

    // Effects, run on the user-interface thread.
    virtual void ShowStatus(const std::string& text) = 0;               // Label3's caption
    virtual void SetGaugeMax(int32_t targetGauge, int32_t value) = 0;   // 0: Gauge1, 1: Gauge2 (+ bar)
    virtual void SetFileProgress(int32_t value) = 0;                    // Gauge1's position
    virtual void SetTotalProgress(int32_t value) = 0;                   // Gauge2's position (+ bar)
    virtual void UpdateRevision(const std::string& revision) = 0;      // AtRevision in _settings.ini
    virtual void SetRunButtonsEnabled(bool enabled) = 0;                // ImgBtn1 and ImgBtn2
};
