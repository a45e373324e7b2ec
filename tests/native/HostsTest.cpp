#include "platform/posix/PosixTesting.h"
#include "platform/Errors.h"
#include "tests/native/UpdateFixture.h"
#include "update/HostsEdit.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;

namespace {
const std::string kStart = "#-------- Added by DoVevevaz --------\r\n";
const std::string kEnd = "#-----------------\r\n";

class HostsStep : public UpdateFixture {
protected:
    HostsStep() {
        platform::MakeFolders(windows / "system32\\drivers\\etc");
        platform::SetWindowsFolderForTesting(windows.Path());
    }
    ~HostsStep() override { platform::SetWindowsFolderForTesting(""); }
    std::string hosts() const { return windows / "system32\\drivers\\etc\\hosts"; }
    void Apply(const TStringList& entries) {
        window.statuses.clear();
        GFilesThread worker(window, window.Folder());
        worker.ModifyHosts(entries);
    }
    std::string Native(const std::string& path) const { return ReplaceAll(path, "\\", "/"); }
    int Mode(const std::string& path) const {
        struct stat st {};
        stat(Native(path).c_str(), &st);
        return st.st_mode & 07777;
    }
    TempDir windows;
};

// Makes the file checks of this thread those of a player without administrator rights: root passes
// every permission check, so while this lives they are made as the user nobody.
class AsPlainUser {
public:
    AsPlainUser() : root_(geteuid() == 0) {
        if (root_) setfsuid(65534);
    }
    ~AsPlainUser() {
        if (root_) setfsuid(0);
    }

private:
    bool root_;
};
} // namespace

TEST_F(HostsStep, AddsMissingMappingsInAMarkedBlockAndCommentsOutContradictions) {
    WriteBytes(hosts(), "  127.0.0.1 localhost  \n# 10.0.0.1 game.example\n\n10.9.9.9\tlogin.example\n");
    Apply({"10.0.0.1|game.example", "10.0.0.2|login.example"});
    EXPECT_EQ(ReadBytes(hosts()), "127.0.0.1 localhost\r\n# 10.0.0.1 game.example\r\n\r\n#10.9.9.9\tlogin.example\r\n" +
                                      kStart + "10.0.0.1\tgame.example\r\n10.0.0.2\tlogin.example\r\n" + kEnd);
    EXPECT_EQ(window.statuses, (std::vector<std::string>{"Применение изменений к файлу Hosts", "Файл Hosts изменён"}));

    // A second run finds everything present and leaves the file byte for byte alone.
    std::string before = ReadBytes(hosts());
    Apply({"10.0.0.1|game.example", "10.0.0.2|login.example"});
    EXPECT_EQ(ReadBytes(hosts()), before);
    EXPECT_TRUE(window.statuses.empty());
    EXPECT_FALSE(platform::IsFile(hosts() + ".vandrel-new"));
}

TEST_F(HostsStep, PresentMappingsLeaveTheFileUntouchedUntrimmedBlanksIncluded) {
    const std::string text = "  10.0.0.1 game.example   \r\n\t1.2.3.4\tother\n";
    WriteBytes(hosts(), text);
    Apply({"10.0.0.1|game.example", "x|1.2.3.4|other"});
    EXPECT_EQ(ReadBytes(hosts()), text);
}

TEST_F(HostsStep, MatchesHostsAndAddressesAsSubstrings) {
    // "game" is named by the gameserver line; 1.2.3.4 + tab is found inside 11.2.3.4 + tab.
    WriteBytes(hosts(), "11.2.3.4\tgameserver\n");
    Apply({"1.2.3.4|game"});
    EXPECT_EQ(ReadBytes(hosts()), "11.2.3.4\tgameserver\n");
}

TEST_F(HostsStep, PrefersHostsMsnAndFailsOnBadEntriesBeforeWriting) {
    WriteBytes(hosts(), "untouched\n");
    WriteBytes(hosts() + ".msn", "");
    Apply({"10.0.0.1|game.example"});
    EXPECT_EQ(ReadBytes(hosts() + ".msn"), kStart + "10.0.0.1\tgame.example\r\n" + kEnd);
    EXPECT_EQ(ReadBytes(hosts()), "untouched\n");

    const std::string before = ReadBytes(hosts() + ".msn");
    EXPECT_THROW(Apply({"10.0.0.9|new.example", "FAIL"}), EStringListError);
    EXPECT_THROW(Apply({"|host"}), EStringListError);
    EXPECT_EQ(ReadBytes(hosts() + ".msn"), before);
}

TEST_F(HostsStep, AMissingHostsFileOrWindowsFolderIsHandled) {
    EXPECT_THROW(Apply({"10.0.0.1|game.example"}), EInOutError);
    platform::SetWindowsFolderForTesting("");
    Apply({"10.0.0.1|game.example"}); // no Windows folder: nothing happens
    EXPECT_TRUE(window.statuses.empty());
}

TEST_F(HostsStep, TheWholeRunAppliesTheHostsSectionOnlyWhenAskedTo) {
    WriteBytes(hosts(), "");
    for (int modHosts : {0, 2, 1}) {
        PublishList("[settings]\nRev|1\nModHosts|" + std::to_string(modHosts) +
                    "\n[/settings]\n[hosts]\n10.0.0.1|game.example\n[/hosts]\n");
        RunUpdate();
        EXPECT_EQ(ReadBytes(hosts()).empty(), modHosts != 1) << modHosts;
    }
    // ModHosts 1 with no hosts section is an error of the list: the run ends with a report.
    PublishList("[settings]\nRev|1\nModHosts|1\n[/settings]\n");
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Обновление неудалось");
}

TEST_F(HostsStep, TheMergeIsAFunctionOfLinesAndEntries) {
    THostsEdit edit = MergeHosts(HostsLines("1.1.1.1 a\r\n# 2.2.2.2 b\n\n3.3.3.3 c"), {"9.9.9.9|a", "2.2.2.2|b", "3.3.3.3|c"});
    EXPECT_EQ(edit.Lines, (TStringList{"#1.1.1.1 a", "# 2.2.2.2 b", "", "3.3.3.3 c"}));
    EXPECT_EQ(edit.Block, (TStringList{"#-------- Added by DoVevevaz --------", "9.9.9.9\ta", "2.2.2.2\tb", "#-----------------"}));
    EXPECT_TRUE(edit.Changed());
    EXPECT_FALSE(MergeHosts({"3.3.3.3 c"}, {"3.3.3.3|c"}).Changed());
    EXPECT_THROW(MergeHosts({}, {"1.1.1.1|a", "FAIL"}), EStringListError);
}

TEST_F(HostsStep, TheFileKeepsItsPermissions) {
    WriteBytes(hosts(), "127.0.0.1 localhost\n");
    chmod(Native(hosts()).c_str(), 0640);
    Apply({"10.0.0.1|game.example"});
    EXPECT_EQ(ReadBytes(hosts()), "127.0.0.1 localhost\r\n" + kStart + "10.0.0.1\tgame.example\r\n" + kEnd);
    EXPECT_EQ(Mode(hosts()), 0640);
}

TEST_F(HostsStep, AFileWritableInAFolderThatIsNotIsRewrittenInPlace) {
    const std::string etc = windows / "system32\\drivers\\etc";
    WriteBytes(hosts(), "127.0.0.1 localhost\n");
    chmod(Native(hosts()).c_str(), 0666);
    chmod(Native(etc).c_str(), 0555);
    {
        AsPlainUser player;
        Apply({"10.0.0.1|game.example"});
    }
    chmod(Native(etc).c_str(), 0755);
    EXPECT_EQ(ReadBytes(hosts()), "127.0.0.1 localhost\r\n" + kStart + "10.0.0.1\tgame.example\r\n" + kEnd);
    EXPECT_EQ(window.statuses, (std::vector<std::string>{"Применение изменений к файлу Hosts", "Файл Hosts изменён"}));
    EXPECT_EQ(Mode(hosts()), 0666);
}

TEST_F(HostsStep, AFileThatCannotBeWrittenIsRefusedBeforeAnythingIsShown) {
    WriteBytes(hosts(), "127.0.0.1 localhost\n");
    chmod(Native(hosts()).c_str(), 0444);
    {
        AsPlainUser player;
        EXPECT_THROW(Apply({"10.0.0.1|game.example"}), EInOutError);
    }
    EXPECT_TRUE(window.statuses.empty());
    EXPECT_EQ(ReadBytes(hosts()), "127.0.0.1 localhost\n");
    EXPECT_FALSE(platform::IsFile(hosts() + ".vandrel-new"));
}
