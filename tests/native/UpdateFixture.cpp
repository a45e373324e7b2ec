#include "tests/native/UpdateFixture.h"

#include "support/Misc.h"

namespace testutil {

UpdateFixture::UpdateFixture()
    : server(served.Path()), window(client.Path()), previousFolder_(platform::CurrentFolder()) {
    platform::SetCurrentFolder(client.Path());
    platform::SetHttpStallTimeout(2);
}

UpdateFixture::~UpdateFixture() {
    platform::SetCurrentFolder(previousFolder_);
    platform::SetHttpStallTimeout(60);
}

size_t UpdateFixture::PublishPayload(const std::string& path, const std::string& content) {
    const std::string payload = served / (path + ".bz2");
    platform::MakeFolders(ExtractFilePath(payload));
    const std::string packed = Compress(content);
    WriteBytes(payload, packed);
    return packed.size();
}

std::string UpdateFixture::EntryLine(const ListEntry& entry) {
    size_t size = PublishPayload(entry.path, entry.content);
    return entry.path + "|" + Md5Hex(entry.content) + "|" + std::to_string(size);
}

void UpdateFixture::PublishList(const std::string& listText) { WriteBytes(served / "files.lst.bz2", Compress(listText)); }

void UpdateFixture::Publish(const std::vector<ListEntry>& entries, int revision, const std::string& extraSections) {
    std::string critical, normal;
    for (const ListEntry& entry : entries) (entry.critical ? critical : normal) += EntryLine(entry) + "\r\n";
    PublishList("[settings]\r\nRev|" + std::to_string(revision) + "\r\nModHosts|0\r\n[/settings]\r\n" +
                "[files_critical]\r\n" + critical + "[/files_critical]\r\n[files_normal]\r\n" + normal +
                "[/files_normal]\r\n" + extraSections);
}

void UpdateFixture::RunUpdate(bool fullCheck, int32_t makeBackup, int32_t currentRevision) {
    window.statuses.clear();
    GFilesThread worker(window, window.Folder());
    worker.SetCancelled(false);
    worker.BaseURL = server.BaseUrl();
    worker.FullCheck = fullCheck;
    worker.MakeBackup = makeBackup;
    worker.CurrentRevision = currentRevision;
    if (beforeRun) beforeRun(worker);
    running_ = &worker;
    worker.Execute();
    running_ = nullptr;
}

std::string UpdateFixture::SettingsIni() const {
    return platform::IsFile(client / "_settings.ini") ? ReadBytes(client / "_settings.ini") : "(none)";
}

} // namespace testutil
