#include "update/GetFilesThr.h"

#include "platform/Platform.h"
#include "support/Download.h"
#include "support/Errors.h"
#include "support/IniFile.h"
#include "support/ListSignature.h"
#include "support/LstFile.h"
#include "support/md5.h"

#include <thread>

namespace status {
const char* const kLoadingList = "Загрузка списка обновлений";
const char* const kFailed = "Обновление неудалось";
const char* const kAllUpdated = "Все файлы обновлены";
const char* const kInterrupted = "Обновление прервано";
const char* const kChecking = "Проверка файлов";
const char* const kDownloading = "Загрузка ";
const char* const kExtracting = "Извлечение ";
const char* const kHostsApplying = "Применение изменений к файлу Hosts";
const char* const kHostsChanged = "Файл Hosts изменён";
const char* const kSelfFailed = "Update Failed";
} // namespace status

void TRunControl::MarkFinished() {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    done_.notify_all();
}

void TRunControl::WaitFinished() {
    std::unique_lock<std::mutex> guard(lock_);
    done_.wait(guard, [this] { return finished_.load(); });
}

GFilesThread::GFilesThread(IUpdateWindow& window) : window_(window), control_(std::make_shared<TRunControl>()) {}

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

// ---- unpacking --------------------------------------------------------------------------------------

void GFilesThread::UnpackStarted(TStream& source) {
    SourceStream = &source;
    Progress = static_cast<int32_t>(source.Size());
    TargetGauge = 0;
    SetGaugeMax();
}

void GFilesThread::UnpackProgress(int64_t consumed) {
    Progress = static_cast<int32_t>(consumed);
    ReportFileProgress(false);
}

void GFilesThread::UnpackFinished() {
    SourceStream = nullptr;
    Progress = 0;
    ReportFileProgress(true);
}

void GFilesThread::UnpackInPlace(const std::string& bz2Path, const std::string& destination,
                                 const std::string& digest, int64_t maxOutputBytes) {
    const std::string temporary = destination + kUnpackSuffix;
    auto source = std::make_unique<TFileStream>(bz2Path, TFileStream::Mode::OpenReadDenyWrite);
    try {
        UnpackVerified(*source, temporary, digest, this, maxOutputBytes);
    } catch (...) {
        source.reset();
        platform::RemoveFile(bz2Path);
        throw;
    }
    // The temporary is complete and verified: the payload goes before the rename, so a process killed
    // in between never leaves a payload beside a file that is already current.
    source.reset();
    platform::RemoveFile(bz2Path);
    if (!platform::MoveFileReplacing(temporary, destination)) {
        platform::RemoveFile(temporary);
        throw EInOutError(IoError::AccessDenied);
    }
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
    Progress = 0;
    const TDownloadResult result = DownloadToFile(url, localPath, [&](size_t received) {
        if (!showProgress) return;
        Progress = static_cast<int32_t>(static_cast<uint32_t>(Progress) + static_cast<uint32_t>(received));
        ReportFileProgress(false);
    });
    Progress = 0;
    ReportFileProgress(true);
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
            platform::RemoveFile(InstallDir + "files.lst");
            ShowStatus();
            EnableButtons();
        } catch (...) {
            // the window itself is gone
        }
    }
}

void GFilesThread::Run() {
    InstallDir = platform::CurrentFolder() + "\\";
    DisableButtons();
    Show(status::kLoadingList);
    if (BaseURL.empty() || BaseURL.back() != '/') BaseURL += "/";

    const std::string listPath = InstallDir + "files.lst";
    if (!DownloadFile(BaseURL + "files.lst.bz2", InstallDir + "files.lst.bz2", true)) {
        StatusText = status::kFailed;
        platform::RemoveFile(listPath);
    } else if (!ListPublicKey.empty() && !ListSignatureAccepted()) {
        // A list its signer did not sign is never unpacked: nothing is checked, fetched or touched.
        StatusText = status::kFailed;
        platform::RemoveFile(InstallDir + "files.lst.bz2");
        platform::RemoveFile(listPath);
    } else {
        Show("");
        try {
            // A list that unpacks past its bound is corrupt; nothing of it stays on disk.
            UnpackInPlace(InstallDir + "files.lst.bz2", listPath, std::string(), kMaxListBytes);
        } catch (...) {
            Show(status::kFailed);
            platform::RemoveFile(listPath);
        }
        if (platform::IsFile(listPath)) {
            InstallQueue.clear();
            int32_t listRevision = 0;
            bool replayed = false;
            {
                TListFile list(listPath);
                listRevision = StrToInt(list.GetValue("settings", "Rev"));
                // A signed list older than the installed one is an old set played back: refused whole.
                replayed = !ListPublicKey.empty() && listRevision < InstalledRevision();
                if (!replayed) {
                    const int32_t modHosts = StrToInt(list.GetValue("settings", "ModHosts"));
                    if (modHosts == 1) ModifyHosts(list.GetSection("hosts"));
                    SelfEntry = list.GetSection("self").front();
                    if (SelfEntry != kListFail) SelfUpdate(SelfEntry);
                    CheckFiles(list.GetSection("files_critical"));
                    if (FullCheck || CurrentRevision < listRevision) {
                        if (MakeBackup == 1) {
                            DeleteFolder(InstallDir + "backup");
                            if (!platform::MakeFolders(InstallDir + "backup"))
                                throw EInOutError(IoError::AccessDenied);
                        }
                        CheckFiles(list.GetSection("files_normal"));
                    }
                    InstallFiles();
                }
            } // the reader closes files.lst here
            InstallQueue.clear();
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
    const std::string signaturePath = InstallDir + "files.lst.bz2.sig";
    bool accepted = false;
    if (DownloadFile(BaseURL + "files.lst.bz2.sig", signaturePath, true)) {
        const std::optional<TListSignature> signature = ReadSignatureFile(signaturePath);
        const std::optional<TListPublicKey> key = ParsePublicKeyHex(ListPublicKey);
        accepted = signature && key && VerifyFileSignature(InstallDir + "files.lst.bz2", *signature, *key);
    }
    platform::RemoveFile(signaturePath);
    return accepted;
}

int32_t GFilesThread::InstalledRevision() const {
    return TIniFile(InstallDir + "_settings.ini").ReadInteger("main", "AtRevision", 0);
}

unsigned GFilesThread::DefaultDigestThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}
