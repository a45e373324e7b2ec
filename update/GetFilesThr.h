// The update worker: the thread that carries one update run, so the window stays responsive while the
// game client is brought up to date. It reports to the window only through synchronised callbacks.
#pragma once

#include "support/Download.h"
#include "support/InstallFolder.h"
#include "support/ListAdditions.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/Sources.h"
#include "support/UnpackObserver.h"
#include "update/RunControl.h"
#include "update/StatusTexts.h"
#include "update/PayloadFetch.h"
#include "update/UpdateWindow.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <string>

class TDigestAhead;
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
    // How objects and chunks are asked for again, and when a source is passed over (sets published
    // with objects).
    TRetryPolicy RetryPolicy;

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
    // The run's sources of objects and chunks, once the list is read: its mirrors, then BaseURL.
    void ReadListAdditions(TListFile& list);
    // DownloadFile's work, telling also a local file that cannot be created; the gauge ends at 0.
    TDownloadResult Fetch(const std::string& url, const std::string& localPath, bool showProgress);
    // A payload for the file in hand (an entry at its turn, the launcher's own exe), fetched to its end
    // into target with the per-file gauge following its bytes, which ends at 0 (PayloadFetch.cpp).
    TDownloadResult FetchPayloadShown(const TPayloadSource& source, const platform::OwnName& target, bool resumable);
    // Whether a listed path may be installed: it stays inside the install folder and names nothing
    // of the launcher's own.
    bool IsInstallablePath(const std::string& path) const;
    // The check pass's digest of entry i's file, from the helpers.
    std::optional<std::string> TakeDigest(TDigestAhead& ahead, size_t i, const std::string& file);

    // ---- the install pass (InstallPass.cpp) ----
    // How one entry of the install pass ended.
    enum class TEntryOutcome { Placed, FailedGoOn, FailedStop };
    // The ways an entry can be put in place, tried in the order planned: each either places the file,
    // gives way to the next (a way that is not to be had or went wrong before anything was replaced),
    // or fails the entry.
    enum class TWay { Patch, Chunks, Payload };
    enum class TWayOutcome { Placed, TryNext, FailedGoOn, FailedStop };
    // How a payload's download ends its way: nothing when it was fetched (PayloadFetch.cpp).
    static std::optional<TWayOutcome> FailureOf(TDownloadResult fetched);
    // What the install pass knows of each queued entry before it starts.
    struct TEntryPlan {
        std::vector<TWay> ways;    // in the order they are tried; the payload last
        bool ahead = false;        // its payload is fetched and unpacked ahead of its turn
        TPayloadSource payload;    // where its payload comes from
        const TFileObjects* objects = nullptr; // its objects, in sets published with them
        const TPatchRef* patch = nullptr;      // a patch from its local file, when it has one
        std::string localDigest;   // its local file's MD5 from the check pass; empty: no such file
        TOwnFolder resume;         // where what a cut run fetched is kept; empty: nowhere
    };
    // At most this much payload is staged ahead of the entry shown.
    static constexpr int64_t kStagedAheadBytes = 64 << 20;
    TEntryOutcome InstallEntry(size_t i, const TFileEntry& entry, TInstallAhead* ahead);
    // The ways of one entry: each shows what it does on the window from the entry's "Загрузка" on, and
    // one that gives way after showing more puts the window back there.
    TWayOutcome PlaceFromPatch(const TFileEntry& entry, const TEntryPlan& plan);
    TWayOutcome PlaceFromChunks(const TFileEntry& entry, const TEntryPlan& plan);
    TWayOutcome PlacePayload(const TFileEntry& entry, const TEntryPlan& plan);
    TWayOutcome PlaceFetchedAhead(TInstallAhead& ahead, size_t i, const TFileEntry& entry, const TEntryPlan& plan);
    // The last step of a way that writes the new file itself (from a patch, from chunks): with the
    // backup made, write fills the new file beside the old one (which it may still read), and the new
    // one takes its place. TryNext when the writing failed (the window back at the entry's start).
    TWayOutcome WriteInPlace(const TFileEntry& entry, const std::function<void(platform::File&)>& write);
    // The guarded step that ends every way: backup copy, then the file put in place. False when
    // anything in it failed.
    bool BackUpAndPlace(const std::string& path, const std::function<void(const std::string&)>& place,
                        bool extractingShown = false);
    // Plans each queued entry: its ways, its payload's source, its resume folder.
    void PlanEntries(bool staging);
    // The helpers for the install pass's queue, or null when entries are to be fetched at their turn.
    std::unique_ptr<TInstallAhead> StartInstallAhead(bool staging);

    // ---- the staging folder (Staging.cpp) ----
    // Clears what a killed run left in the staging folder but what the queue's entries can go on from
    // (pruning it to its bound). False when there is no staging folder of the launcher's own.
    bool PrepareStaging();
    // The resume folder of an entry: one per file version.
    TOwnFolder ResumeFolderOf(const TFileEntry& entry) const;
    // Keeps only what a later run can go on from, and removes the staging folder once it holds nothing.
    void FinishStaging();

    // ---- the per-file gauge ----
    // Gauge1's maximum for work of `total` bytes (files and payloads of many GiB are scaled into the
    // gauge's 32-bit range), and its position after `done` of them; the position is handed over when
    // its percentage changes, and at least once a second while it moves.
    void StartFileGauge(int64_t total);
    void MoveFileGauge(int64_t done, bool always = false);
    // Work of `total` units (patch bytes, chunk bytes, bytes written) shown as its share of a gauge set
    // up for an entry of `entrySize`, as a download of its payload would fill it.
    void MoveFileGaugeShare(int64_t done, int64_t total, int64_t entrySize);
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
    TListAdditions additions_;         // what the list says beyond its classic sections
    std::unique_ptr<TSources> sources_; // where objects and chunks come from; null: a classic set
    std::vector<TEntryPlan> plans_;
    // The MD5 of each queued entry's local file as the check pass found it (empty: none).
    std::vector<std::string> queuedDigests_;
    int fileShift_ = 0; // Gauge1's positions are bytes shifted right by this
    std::chrono::steady_clock::time_point fileReported_;
    // The names the check passes have met (folded as Windows compares names) and how each was spelled.
    std::map<std::string, std::string> checkedNames_;
    TPercentageFilter fileGauge_;  // Gauge1
    TPercentageFilter totalGauge_; // Gauge2, which sizes the bar
};
