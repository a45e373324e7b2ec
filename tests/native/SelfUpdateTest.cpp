#include "platform/Errors.h"
#include "tests/native/UpdateFixture.h"
#include "update/UpdateBatch.h"

using namespace testutil;

namespace {
class SelfUpdateStep : public UpdateFixture {
protected:
    void Apply(const std::string& entry) {
        window.statuses.clear();
        GFilesThread worker(window, window.Folder());
        worker.InstallDir = client.Path() + "\\";
        worker.BaseURL = server.BaseUrl();
        worker.SelfUpdate(entry);
    }
    std::string Folder() const { return client.Path(); } // the install folder as the window knows it
};
} // namespace

TEST_F(SelfUpdateStep, ACurrentLauncherFetchesNothing) {
    WriteBytes(Local("upd.exe"), "launcher v1");
    Apply("upd.exe|" + Md5Hex("launcher v1") + "|10");
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(platform::IsFile(Local("Update.bat")));
}

TEST_F(SelfUpdateStep, ANewLauncherIsFetchedBesideTheOldOneWithTheBatchFile) {
    WriteBytes(Local("upd.exe"), "launcher v1");
    size_t size = PublishPayload("upd.exe", "launcher v2");
    Apply("upd.exe|" + Md5Hex("launcher v2") + "|" + std::to_string(size));
    EXPECT_EQ(ReadBytes(Local("upd.exe.New")), "launcher v2");
    EXPECT_EQ(ReadBytes(Local("upd.exe")), "launcher v1");
    EXPECT_FALSE(platform::IsFile(Local("upd.exe.bz2")));
    const std::string folder = Folder();
    EXPECT_EQ(ReadBytes(Local("Update.bat")), "@echo off\r\n"
                                              "taskkill /IM upd.exe /F\r\n"
                                              "ping 127.0.0.1 -n 3 > nul\r\n"
                                              "del \"" + folder + "\\files.lst\"\r\n"
                                              "del \"" + folder + "\\upd.exe\"\r\n"
                                              "rename upd.exe.New upd.exe\r\n"
                                              "start upd.exe\r\n"
                                              "del \"Update.bat\"\r\n");
    EXPECT_TRUE(window.statuses.empty());
}

TEST_F(SelfUpdateStep, WithoutANewFileTheBatchHasFiveLinesAndOverwritesAnOldOne) {
    WriteBytes(Local("Update.bat"), "old batch file with other text");
    WriteUpdateBatch(window.Folder(), "upd.exe");
    EXPECT_EQ(ReadBytes(Local("Update.bat")),
              "@echo off\r\ntaskkill /IM upd.exe /F\r\nping 127.0.0.1 -n 3 > nul\r\nstart upd.exe\r\ndel \"Update.bat\"\r\n");
}

TEST_F(SelfUpdateStep, ACorruptOrWrongDownloadFailsWithoutABatchFile) {
    WriteBytes(served / "upd.exe.bz2", "not bzip2");
    Apply("upd.exe|" + Md5Hex("launcher v2") + "|10");
    EXPECT_EQ(window.statuses, std::vector<std::string>{"Update Failed"});
    EXPECT_FALSE(platform::IsFile(Local("Update.bat")));
    EXPECT_FALSE(platform::IsFile(Local("upd.exe.New")));

    PublishPayload("upd.exe", "not what the list promised");
    Apply("upd.exe|" + Md5Hex("launcher v2") + "|10");
    EXPECT_EQ(window.statuses, std::vector<std::string>{"Update Failed"});
    EXPECT_FALSE(platform::IsFile(Local("Update.bat")));

    // No payload on the server at all: the error page fails like a corrupt archive.
    platform::RemoveFile(served / "upd.exe.bz2");
    Apply("upd.exe|" + Md5Hex("launcher v2") + "|10");
    EXPECT_EQ(window.statuses, std::vector<std::string>{"Update Failed"});
}

TEST_F(SelfUpdateStep, NamesThatAreNotPlainFileNamesAreRefusedBeforeAnyDownload) {
    for (const char* name : {"..\\upd.exe", "sub\\upd.exe", "my upd.exe", "a&b.exe", "x%PATH%.exe",
                             "a^b.exe", "(a).exe", "bang!.exe", "C:upd.exe", "con.exe", "a\"b.exe", "a,b.exe",
                             "a;b.exe", "a=b.exe", "\xcf\xe1\xed.exe"}) {
        Apply(std::string(name) + "|" + Md5Hex("x") + "|10");
        EXPECT_EQ(window.statuses, std::vector<std::string>{"Update Failed"}) << name;
    }
    EXPECT_EQ(server.Requests(), std::vector<std::string>{});
    EXPECT_FALSE(platform::IsFile(Local("Update.bat")));
}

TEST_F(SelfUpdateStep, ANameTooLongForTheInstallFolderFailsWithoutEndingTheRun) {
    const std::string name = std::string(300, 'u') + ".exe";
    Apply(name + "|" + Md5Hex("x") + "|10");
    EXPECT_EQ(window.statuses, std::vector<std::string>{"Update Failed"});
    EXPECT_FALSE(platform::IsFile(Local("Update.bat")));
}

TEST_F(SelfUpdateStep, MalformedEntriesEndTheRun) {
    EXPECT_THROW(Apply("upd.exe|10"), EStringListError);
    EXPECT_THROW(Apply("upd.exe|" + Md5Hex("x") + "|ten"), EConvertError);
    EXPECT_TRUE(server.Requests().empty());
}
