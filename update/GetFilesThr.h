// The update worker: the thread that carries one update run, so the window stays responsive while the
// game client is brought up to date. It reports to the window only through synchronised callbacks.
#pragma once

#include "support/BZip2.h"
#include "support/Download.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "update/UpdateWindow.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The two flags the window may set on a running worker, and whether its run has ended. The window
// keeps this, not the worker, so a late cancel never touches a worker that has freed itself.
class TRunControl {
public:
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Cancelled{false};
    bool Finished() const { return finished_.load(); }
    void MarkFinished();
    void WaitFinished();

private:
    std::atomic<bool> finished_{false};
    std::mutex lock_;
    std::condition_variable done_;
};

// Status texts of an update run.
namespace status {
extern const char* const kLoadingList;   // "Загрузка списка обновлений"
extern const char* const kFailed;        // "Обновление неудалось"
extern const char* const kAllUpdated;    // "Все файлы обновлены"
extern const char* const kInterrupted;   // "Обновление прервано"
extern const char* const kChecking;      // "Проверка файлов"
extern const char* const kDownloading;   // "Загрузка "
extern const char* const kExtracting;    // "Извлечение "
extern const char* const kHostsApplying; // "Применение изменений к файлу Hosts"
extern const char* const kHostsChanged;  // "Файл Hosts изменён"
extern const char* const kSelfFailed;    // "Update Failed"
} // namespace status

class TInstallAhead;

class GFilesThread : private UnpackObserver {
public:
    // Created suspended: fill in the inputs, then Resume.
    explicit GFilesThread(IUpdateWindow& window);
    ~GFilesThread() override;

    // Starts the run on its own thread; the worker frees itself when the run ends.
    static std::shared_ptr<TRunControl> Resume(std::unique_ptr<GFilesThread> worker);

    void Terminate() { control_->Terminated = true; }
    bool Terminated() const { return control_->Terminated; }
    void SetCancelled(bool value) { control_->Cancelled = value; }
    bool Cancelled() const { return control_->Cancelled; }
    std::shared_ptr<TRunControl> Control() const { return control_; }

    // The run (public so tests can run it on a thread of their own).
    void Execute();

    // Inputs, written by the window before Resume.
    std::string BaseURL;
    bool FullCheck = false;
    int32_t MakeBackup = 0;
    int32_t CurrentRevision = 0;
    // Threads that digest the check pass's files ahead of the entry shown; 0: each file is digested
    // in its turn on the worker's own thread.
    unsigned DigestThreads = DefaultDigestThreads();
    // Connections that fetch the install pass's payloads ahead of the entry shown, and threads that
    // unpack them; either 0: each entry is fetched and unpacked at its turn on the worker's own thread.
    unsigned AheadConnections = 8;
    unsigned UnpackThreads = DefaultDigestThreads();
    // The public key (64 hexadecimal digits) the update list must be signed with; empty: lists are not
    // signed and no signature is asked for.
    std::string ListPublicKey;

    // Run state that the callbacks read.
    int32_t Progress = 0;
    std::string StatusText;
    TStringList InstallQueue;
    int32_t TargetGauge = 0;
    std::string SelfEntry;
    std::string InstallDir;
    TStream* SourceStream = nullptr;

    // The steps of a run.
    bool DownloadFile(const std::string& url, const std::string& localPath, bool showProgress);
    void CheckFiles(const TStringList& lines);
    void InstallFiles();
    void ModifyHosts(const TStringList& entries);
    void SelfUpdate(const std::string& entry);
    // Unpacks a payload into a temporary file beside the destination (its name + kUnpackSuffix),
    // checks its digest when one is given, deletes the payload and only then puts the file in place;
    // the payload is deleted in every case once opened. maxOutputBytes above 0 bounds the unpacked file.
    void UnpackInPlace(const std::string& bz2Path, const std::string& destination, const std::string& digest,
                       int64_t maxOutputBytes = 0);

    // Window callbacks (each one synchronised call).
    void ShowStatus();
    void SetGaugeMax();
    void SetFileProgress();
    void SetTotalProgress();
    void StoreRevision();
    void DisableButtons();
    void EnableButtons();

private:
    void Run();
    static unsigned DefaultDigestThreads();
    // Signed runs: the list's signature is fetched and checked against ListPublicKey.
    bool ListSignatureAccepted();
    // Signed runs: the revision stored by the last run in _settings.ini (0 when there is none).
    int32_t InstalledRevision() const;
    // DownloadFile's work, telling also a local file that cannot be created; the gauge ends at 0.
    TDownloadResult Fetch(const std::string& url, const std::string& localPath, bool showProgress);
    // How one entry of the install pass ended.
    enum class TEntryOutcome { Placed, FailedGoOn, FailedStop };
    // At most this much payload is staged ahead of the entry shown.
    static constexpr int64_t kStagedAheadBytes = 64 << 20;
    // The install pass's guarded step for one fetched entry: backup copy, then the file put in place.
    // False when anything in it failed.
    bool BackUpAndPlace(const std::string& path, const std::function<void(const std::string&)>& place);
    // One entry at its turn: fetched, then unpacked beside its destination.
    TEntryOutcome FetchAndPlace(const std::string& path, const std::string& digest);
    // One entry fetched and unpacked ahead: what the window sees is what FetchAndPlace shows.
    TEntryOutcome PlaceFetchedAhead(TInstallAhead& ahead, size_t i, const std::string& path, int32_t payloadSize);
    // The helpers for the install pass's queue, or null when entries are to be fetched at their turn.
    std::unique_ptr<TInstallAhead> StartInstallAhead();
    void Show(const std::string& text) {
        StatusText = text;
        ShowStatus();
    }
    // Hands the per-file position to the window only when Gauge1's percentage could change.
    void ReportFileProgress(bool always);
    // Hands the overall position to the window only when the bar's width could change.
    void ReportTotalProgress(bool always);

    void UnpackStarted(TStream& source) override;
    void UnpackProgress(int64_t consumed) override;
    void UnpackFinished() override;

    IUpdateWindow& window_;
    std::shared_ptr<TRunControl> control_;
    // A gauge's maximum as last set and the integer percentage last handed to it.
    struct TPercentageFilter {
        int32_t max = 100;
        int32_t last = -1;
        // Whether position moves the percentage (or always); remembers the new one.
        bool Changes(int32_t position, bool always);
    };
    TPercentageFilter fileGauge_;  // Gauge1
    TPercentageFilter totalGauge_; // Gauge2, which sizes the bar
};
