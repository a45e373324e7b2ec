// A game client folder, an update server serving a list made by the test, and a window that records
// what the update worker showed.
#pragma once

#include "app/MainWindowState.h"
#include "platform/Platform.h"
#include "tests/common/TestUtil.h"
#include "tests/server/TestHttpServer.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testutil {

// A disk that is full after `bytes` bytes of any one file (a file-size limit, its signal ignored).
class DiskFullAfter {
public:
    explicit DiskFullAfter(rlim_t bytes) : previous_(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit full = old_;
        full.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &full);
    }
    ~DiskFullAfter() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, previous_);
    }

private:
    void (*previous_)(int);
    rlimit old_{};
};

// Runs every callback at once on the calling thread, and remembers each status text.
class TRecordingWindow : public TMainWindowState {
public:
    explicit TRecordingWindow(const std::string& installFolder) : TMainWindowState(TInstallFolder(installFolder)) {}
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ShowStatus(const std::string& text) override {
        statuses.push_back(text);
        TMainWindowState::ShowStatus(text);
        if (onStatus) onStatus(text);
    }
    void UpdateRevision(const std::string& revision) override {
        revisions.push_back(revision);
        TMainWindowState::UpdateRevision(revision);
    }
    void SetGaugeMax(int32_t targetGauge, int32_t value) override {
        TMainWindowState::SetGaugeMax(targetGauge, value);
        if (onGaugeMax) onGaugeMax(targetGauge, value);
    }
    void SetFileProgress(int32_t value) override {
        TMainWindowState::SetFileProgress(value);
        if (onFileProgress) onFileProgress(value);
    }
    std::vector<std::string> statuses;
    std::vector<std::string> revisions;
    std::function<void(const std::string&)> onStatus;
    std::function<void(int32_t targetGauge, int32_t value)> onGaugeMax;
    std::function<void(int32_t value)> onFileProgress;
};

struct ListEntry {
    std::string path;    // as in the list, with "\"
    std::string content; // what the file holds
    bool critical = false;
};

class UpdateFixture : public ::testing::Test {
protected:
    UpdateFixture();
    ~UpdateFixture() override;

    // Publishes the entries: payloads and files.lst.bz2 on the server. extraSections are added verbatim.
    void Publish(const std::vector<ListEntry>& entries, int revision = 7, const std::string& extraSections = "");
    // Writes a payload for path (with "\") holding content; returns its compressed size.
    size_t PublishPayload(const std::string& path, const std::string& content);
    // The list line of an entry: path|md5|compressed size.
    std::string EntryLine(const ListEntry& entry);
    void PublishList(const std::string& listText);

    // Runs one update run the way the window starts it, on this thread.
    void RunUpdate(bool fullCheck = true, int32_t makeBackup = 0, int32_t currentRevision = 0);
    std::string Local(const std::string& relative) const { return client / relative; }
    std::string ClosingStatus() const { return window.Label3Caption; }
    std::string SettingsIni() const;

    TempDir client;
    TempDir served;
    TestHttpServer server;
    TRecordingWindow window;
    std::function<void(GFilesThread&)> beforeRun;
    // Asks the running worker to stop, as the cancel button does.
    void cancel() {
        if (running_) {
            running_->Terminate();
            running_->SetCancelled(true);
        }
    }
    GFilesThread* running_ = nullptr;

private:
    std::string previousFolder_;
};

} // namespace testutil
