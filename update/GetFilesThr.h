// The update worker: the thread that carries one update run, so the window stays responsive while the
// game client is brought up to date. It reports to the window only through synchronised callbacks.
#pragma once

#include "support/Download.h"
#include "support/InstallFolder.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/UnpackObserver.h"
#include "update/RunControl.h"
#include "update/StatusTexts.h"
#include "update/UpdateWindow.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <string>

class TInstallAhead;

class GFilesThread : private UnpackObserver {
public:
    // Created suspended: fill in the inputs, then Resume. Every local path is folder's.
    GFilesThread(IUpdateWindow& window, const TInstallFolder& folder);
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
    // Connections that fetch the chunks a large file's old version lacks (sets published with chunks).
    unsigned ChunkConnections = 16;
    // The public key (64 hexadecimal digits) the update list must be signed with; empty: lists are not
    // signed and no signature is asked for.
    std::string ListPublicKey;

    // Run state that the callbacks read.
    int32_t Progress = 0;
    std::string StatusText;
    TStringList InstallQueue;
    int32_t TargetGauge = 0;
    std::string SelfEntry;
    std::string InstallDir; // the install folder's path, ending with "\"
    TStream* SourceStream = nullptr;

    // The steps of a run.
    bool DownloadFile(const std::string& url, const std::string& localPath, bool showProgress);
    void CheckFiles(const TStringList& lines);
    void InstallFiles();
    void ModifyHosts(const TStringList& entries);
    void SelfUpdate(const std::string& entry);
    // Unpacks a payload into a temporary file beside the destination (its name + names::kUnpackSuffix),
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
    // DownloadFile's work, telling also a local file that cannot be created; the gauge ends at 0.
    // maxBytes above 0 bounds the body (a payload's size in the list).
    TDownloadResult Fetch(const std::string& url, const std::string& localPath, bool showProgress,
                          int64_t maxBytes = 0);
    // The same into a part that a download cut short leaves for the next attempt.
    TDownloadResult FetchResumable(const std::string& url, const platform::OwnName& part, int64_t maxBytes);
    // Runs a download with the per-file gauge counting its bytes from 0, and back to 0 at its end.
    TDownloadResult CountingBytes(bool showProgress,
                                  const std::function<TDownloadResult(const std::function<void(size_t)>&)>& download);
    // Whether a listed path may be installed: it stays inside the install folder and names nothing
    // of the launcher's own.
    bool IsInstallablePath(const std::string& path) const;
    // How one entry of the install pass ended.
    enum class TEntryOutcome { Placed, FailedGoOn, FailedStop };
    // At most this much payload is staged ahead of the entry shown.
    static constexpr int64_t kStagedAheadBytes = 64 << 20;
    // The install pass's guarded step for one fetched entry: backup copy, then the file put in place.
    // False when anything in it failed.
    bool BackUpAndPlace(const std::string& path, const std::function<void(const std::string&)>& place);
    // One entry at its turn: fetched (resumably, into its resume folder, when one is given), then
    // unpacked beside its destination.
    TEntryOutcome FetchAndPlace(const std::string& path, const TFileEntry& entry, const TOwnFolder& resume);
    // One large entry at its turn from chunks: nothing when the set has no usable index for it.
    std::optional<TEntryOutcome> PlaceFromChunks(const std::string& path, const TFileEntry& entry,
                                                 const TOwnFolder& resume);
    // One entry fetched and unpacked ahead: what the window sees is what FetchAndPlace shows.
    TEntryOutcome PlaceFetchedAhead(TInstallAhead& ahead, size_t i, const std::string& path, int32_t payloadSize);
    // Clears what a killed run left in the staging folder but what the queue's entries can go on from,
    // and plans each entry. False when there is no staging folder of the launcher's own.
    bool PrepareStaging();
    // Removes the staging folder once nothing in it is kept for a later run.
    void FinishStaging();
    // The helpers for the install pass's queue, or null when entries are to be fetched at their turn.
    std::unique_ptr<TInstallAhead> StartInstallAhead(bool staging);
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
    const TInstallFolder folder_;
    std::shared_ptr<TRunControl> control_;
    // A gauge's maximum as last set and the integer percentage last handed to it.
    struct TPercentageFilter {
        int32_t max = 100;
        int32_t last = -1;
        // Whether position moves the percentage (or always); remembers the new one.
        bool Changes(int32_t position, bool always);
    };
    std::string selfName_; // the launcher's exe as the list's self entry names it, once read
    // What the install pass knows of each queued entry before it starts.
    struct TEntryPlan {
        bool fromChunks = false;  // a large old version to take chunks from
        TOwnFolder resume;        // where what a cut run fetched is kept; empty: nowhere
    };
    std::vector<TEntryPlan> plans_;
    // The names the check passes have met (folded as Windows compares names) and how each was spelled.
    std::map<std::string, std::string> checkedNames_;
    TPercentageFilter fileGauge_;  // Gauge1
    TPercentageFilter totalGauge_; // Gauge2, which sizes the bar
};
