#include "update/GetFilesThr.h"

#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/Download.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/ListSignature.h"
#include "support/LstFile.h"
#include "support/md5.h"

#include <algorithm>
#include <optional>
#include <thread>

GFilesThread::GFilesThread(IUpdateWindow& window, const TInstallFolder& folder)
    : InstallDir(folder.Path()), window_(window), folder_(folder), control_(std::make_shared<TRunControl>()) {}

GFilesThread::~GFilesThread() = default;

std::shared_ptr<TRunControl> GFilesThread::Resume(std::unique_ptr<GFilesThread> worker) {
    std::shared_ptr<TRunControl> control = worker->control_;
    std::thread([owned = std::move(worker)]() mutable {
        owned->Execute();
        std::shared_ptr<TRunControl> done = owned->control_;
        owned.reset(); // the worker frees itself before its end is announced
        done->MarkFinished();
    }).detach();
    return control;
}

// ---- window callbacks ------------------------------------------------------------------------------

void GFilesThread::ShowStatus() {
    window_.Synchronize([this] { window_.ShowStatus(StatusText); });
}

void GFilesThread::SetGaugeMax() {
    (TargetGauge == 0 ? fileGauge_ : totalGauge_) = TPercentageFilter{Progress, -1};
    window_.Synchronize([this] { window_.SetGaugeMax(TargetGauge, Progress); });
}

void GFilesThread::SetFileProgress() {
    window_.Synchronize([this] { window_.SetFileProgress(Progress); });
}

void GFilesThread::SetTotalProgress() {
    window_.Synchronize([this] { window_.SetTotalProgress(Progress); });
}

void GFilesThread::StoreRevision() {
    window_.Synchronize([this] { window_.UpdateRevision(std::to_string(CurrentRevision)); });
}

void GFilesThread::DisableButtons() {
    window_.Synchronize([this] { window_.SetRunButtonsEnabled(false); });
}

void GFilesThread::EnableButtons() {
    window_.Synchronize([this] { window_.SetRunButtonsEnabled(true); });
}

bool GFilesThread::TPercentageFilter::Changes(int32_t position, bool always) {
    const int64_t clamped = position < 0 ? 0 : position > max ? max : position;
    const int32_t percentage = max <= 0 ? 0 : static_cast<int32_t>(clamped * 100 / max);
    if (!always && percentage == last) return false;
    last = percentage;
    return true;
}

void GFilesThread::ReportFileProgress(bool always) {
    // Gauge1 repaints only when its integer percentage changes, so positions in between are not handed
    // over: at most about a hundred hand-offs per file instead of one per 1024-byte piece.
    if (fileGauge_.Changes(Progress, always)) SetFileProgress();
}

void GFilesThread::ReportTotalProgress(bool always) {
    // The bar's width follows Gauge2's integer percentage only: a position that leaves it unchanged is
    // not handed over, which spares a large client's passes one hand-off per entry.
    if (totalGauge_.Changes(Progress, always)) SetTotalProgress();
}

// ---- the per-file gauge --------------------------------------------------------------------------------

void GFilesThread::StartFileGauge(int64_t total) {
    // Positions are scaled by the smallest power of two that brings the maximum into the gauge's
    // range: the same numbers as always for anything under 2 GiB.
    fileShift_ = 0;
    while ((total >> fileShift_) > INT32_MAX) ++fileShift_;
    TargetGauge = 0;
    Progress = static_cast<int32_t>(total >> fileShift_);
    SetGaugeMax();
    fileReported_ = std::chrono::steady_clock::now();
}

void GFilesThread::MoveFileGauge(int64_t done, bool always) {
    const int32_t position = static_cast<int32_t>(std::max<int64_t>(0, done) >> fileShift_);
    const bool moved = position != Progress;
    Progress = position;
    // The percentage decides, but a position that moves is handed over at least once a second, so a
    // slow download of a large file still shows that it lives.
    const auto now = std::chrono::steady_clock::now();
    if (moved && now - fileReported_ >= std::chrono::seconds(1)) always = true;
    if (fileGauge_.Changes(Progress, always)) {
        SetFileProgress();
        fileReported_ = now;
    }
}

void GFilesThread::MoveFileGaugeShare(int64_t done, int64_t total, int64_t entrySize) {
    // In floating point: done * entrySize would pass 64 bits for files of many GiB.
    MoveFileGauge(total > 0 ? static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) *
                                                   static_cast<double>(entrySize))
                            : entrySize);
}

// ---- unpacking --------------------------------------------------------------------------------------

void GFilesThread::UnpackStarted(TStream& source) {
    SourceStream = &source;
    StartFileGauge(source.Size());
}

void GFilesThread::UnpackProgress(int64_t consumed) { MoveFileGauge(consumed); }

void GFilesThread::UnpackFinished() {
    SourceStream = nullptr;
    MoveFileGauge(0, true);
}

void GFilesThread::UnpackInPlace(const std::string& bz2Path, const std::string& destination,
                                 const std::string& digest, int64_t maxOutputBytes) {
    auto source = std::make_unique<TFileStream>(bz2Path, TFileStream::Mode::OpenReadDenyWrite);
    std::optional<platform::Replacement> unpacked;
    try {
        unpacked.emplace(destination, names::kUnpackSuffix);
        TFileStream target(unpacked->Output());
        UnpackVerified(*source, target, digest, this, maxOutputBytes);
        unpacked->Finish();
    } catch (...) {
        source.reset();
        platform::RemoveFile(bz2Path);
        throw; // the unpacked temporary goes with its replacement
    }
    // The new version is complete and verified: the payload goes before the rename, so a process killed
    // in between never leaves a payload beside a file that is already current.
    source.reset();
    platform::RemoveFile(bz2Path);
    if (!unpacked->Commit()) throw EInOutError(IoError::AccessDenied);
}

// ---- download ----------------------------------------------------------------------------------------

bool GFilesThread::DownloadFile(const std::string& url, const std::string& localPath, bool showProgress) {
    switch (Fetch(url, localPath, showProgress)) {
    case TDownloadResult::Complete: return true;
    case TDownloadResult::CannotCreate: throw EInOutError(IoError::CannotCreate);
    default: return false;
    }
}

TDownloadResult GFilesThread::Fetch(const std::string& url, const std::string& localPath, bool showProgress) {
    int64_t received = 0;
    MoveFileGauge(0);
    const auto onPiece = [&](size_t got) {
        received += static_cast<int64_t>(got);
        if (showProgress) MoveFileGauge(received);
    };
    const TDownloadResult result = DownloadToFile(url, localPath, onPiece);
    MoveFileGauge(0, true);
    return result;
}

// ---- the run -----------------------------------------------------------------------------------------

void GFilesThread::Execute() {
    try {
        Run();
    } catch (...) {
        // An error the run does not expect still ends it with a report, and the window is never left
        // with its buttons disabled.
        try {
            StatusText = status::kFailed;
            platform::RemoveFile(folder_ / names::kList);
            ShowStatus();
            EnableButtons();
        } catch (...) {
            // the window itself is gone
        }
    }
}

void GFilesThread::Run() {
    DisableButtons();
    Show(status::kLoadingList);
    if (BaseURL.empty() || BaseURL.back() != '/') BaseURL += "/";

    const std::string listPath = folder_ / names::kList;
    const std::string listPayload = folder_ / names::kListPayload;
    if (!DownloadFile(BaseURL + names::kListPayload, listPayload, true)) {
        StatusText = status::kFailed;
        platform::RemoveFile(listPath);
    } else if (!ListPublicKey.empty() && !ListSignatureAccepted()) {
        // A list its signer did not sign is never unpacked: nothing is checked, fetched or touched.
        StatusText = status::kFailed;
        platform::RemoveFile(listPayload);
        platform::RemoveFile(listPath);
    } else {
        Show("");
        try {
            // A list that unpacks past its bound is corrupt; nothing of it stays on disk.
            UnpackInPlace(listPayload, listPath, std::string(), kMaxListBytes);
        } catch (...) {
            Show(status::kFailed);
            platform::RemoveFile(listPath);
        }
        if (platform::IsFile(listPath)) {
            InstallQueue.clear();
            queuedDigests_.clear();
            int32_t listRevision = 0;
            bool replayed = false;
            {
                TListFile list(listPath);
                listRevision = StrToInt(list.GetValue("settings", "Rev"));
                // A signed list older than the installed one is an old set played back: refused whole.
                replayed = !ListPublicKey.empty() && listRevision < folder_.StoredRevision();
                if (!replayed) {
                    ReadListAdditions(list);
                    const int32_t modHosts = StrToInt(list.GetValue("settings", "ModHosts"));
                    if (modHosts == 1) ModifyHosts(list.GetSection("hosts"));
                    SelfEntry = list.GetSection("self").front();
                    if (SelfEntry != kListFail) SelfUpdate(SelfEntry);
                    CheckFiles(list.GetSection("files_critical"));
                    if (FullCheck || CurrentRevision < listRevision) {
                        if (MakeBackup == 1) {
                            // A link planted on the backup folder is removed as a link, never emptied,
                            // and one that cannot be removed fails the run.
                            DeleteFolder(folder_ / names::kBackupFolder);
                            if (!platform::MakeOwnFolders(folder_ / names::kBackupFolder))
                                throw EInOutError(IoError::AccessDenied);
                        }
                        CheckFiles(list.GetSection("files_normal"));
                    }
                    InstallFiles();
                }
            } // the reader closes files.lst here
            InstallQueue.clear();
            queuedDigests_.clear();
            platform::RemoveFile(listPath);
            if (replayed) {
                StatusText = status::kFailed;
            } else if (CurrentRevision < listRevision) {
                CurrentRevision = listRevision;
                StoreRevision();
            }
        }
    }
    ShowStatus();
    EnableButtons();
}

bool GFilesThread::ListSignatureAccepted() {
    // The signature is a line of text: it is read into memory, and an answer longer than a signature
    // file can be is refused as soon as it passes that size. The one named by the list's own bytes
    // comes first: no cache and no publish in progress can pair it with another list. Sets published
    // without one have the signature beside the list.
    const std::optional<TListPublicKey> key = ParsePublicKeyHex(ListPublicKey);
    if (!key) return false;
    const std::string listPayload = folder_ / names::kListPayload;
    const std::optional<TObjectId> listId = ObjectIdOfFile(listPayload);
    if (!listId) return false;
    for (const std::string& url : {BaseURL + names::ObjectUrlPath(TObjectKind::Signature, *listId),
                                   BaseURL + names::kListSignature}) {
        std::string text;
        if (DownloadToMemory(url, kSignatureFileMaxBytes, &text) != TDownloadResult::Complete) continue;
        const std::optional<TListSignature> signature = ParseSignatureFile(text);
        if (signature && VerifyFileSignature(listPayload, *signature, *key)) return true;
    }
    return false;
}

void GFilesThread::ReadListAdditions(TListFile& list) {
    additions_ = TListAdditions::Read(list);
    // Mirrors serve objects: a classic set takes every payload from beside its list, as it always has.
    sources_.reset();
    if (additions_.HasObjects()) sources_ = std::make_unique<TSources>(additions_.Mirrors(), BaseURL, RetryPolicy);
}

unsigned GFilesThread::DefaultDigestThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}
