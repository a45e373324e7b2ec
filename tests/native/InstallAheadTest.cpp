// Fetching and unpacking ahead changes nothing the player sees or the folder ends with.
#include "tests/native/UpdateFixture.h"

#include <filesystem>
#include <map>
#include <tuple>

using namespace testutil;

namespace {

class InstallAhead : public UpdateFixture {
protected:
    // What the window shows at one moment: status line, bar, play and update buttons.
    using Shown = std::tuple<std::string, int32_t, bool, bool, bool>;
    struct Outcome {
        std::vector<Shown> shown;
        std::map<std::string, std::string> files; // every game file left in the folder, backups included
    };

    // One run into a folder holding only the start files, with or without helpers, cancelled when
    // cancelAt shows.
    Outcome Run(bool ahead, const std::string& cancelAt) {
        std::string folder = client.Path();
        for (char& c : folder)
            if (c == '\\') c = '/';
        for (const auto& item : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(item);
        for (const auto& [name, content] : start) WriteBytes(Local(name), content);
        beforeRun = [ahead](GFilesThread& worker) {
            worker.AheadConnections = ahead ? 4 : 0;
            worker.UnpackThreads = 2;
        };
        // Each run starts from the window as the player first sees it.
        window.Label3Caption = "... Загрузка ...";
        window.Shape1Width = 0;
        window.Shape1Visible = false;
        window.ImgBtn1Enabled = window.ImgBtn2Enabled = true;
        Outcome outcome;
        window.OnChanged = [&] {
            const Shown now{window.Label3Caption, window.Shape1Width, window.Shape1Visible, window.ImgBtn1Enabled,
                            window.ImgBtn2Enabled};
            if (outcome.shown.empty() || outcome.shown.back() != now) outcome.shown.push_back(now);
        };
        window.onStatus = [&](const std::string& text) {
            if (text == cancelAt) cancel();
        };
        RunUpdate(true, 1);
        window.OnChanged = nullptr;
        // What a cut run keeps in the staging folder for the next one is no file of the game's.
        for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
            const std::string name = std::filesystem::relative(item.path(), folder).string();
            if (item.is_regular_file() && name.rfind("~vandrel-ahead/", 0) != 0) outcome.files[name] = ReadBytes(item.path());
        }
        return outcome;
    }

    std::map<std::string, std::string> start = {{"a.txt", "a old"}, {"d.txt", "d old"}, {"e.txt", "e old"}};
};

} // namespace

TEST_F(InstallAhead, RunsShowAndLeaveTheSameAsOneEntryAtATime) {
    const std::string big = RandomBytes(600 * 1024, 5); // several pieces on the wire and in the unpacker
    std::string normal = EntryLine({"a.txt", "a new"}) + "\r\n" + EntryLine({"maps\\deep\\big.dat", big}) + "\r\n" +
                         "..\\outside.txt|" + Md5Hex("x") + "|1\r\n" + EntryLine({"d.txt", "d first"}) + "\r\n";
    // Not a bzip2 payload, a path no system can create, a payload the server does not have.
    normal += EntryLine({"bad.txt", "bad"}) + "\r\n";
    server.Misbehave("bad.txt.bz2", TestHttpServer::Misbehaviour::WrongBody, "not bzip2");
    normal += std::string(300, 'n') + ".txt|" + Md5Hex("n") + "|10\r\n";
    normal += "missing.txt|" + Md5Hex("m") + "|10\r\n";
    // The same path twice: the payload holds the second entry's content, so the first fails and the
    // second puts its file in place.
    normal += EntryLine({"d.txt", "d second"}) + "\r\n" + EntryLine({"e.txt", "e new"}) + "\r\n";
    const std::string cut = EntryLine({"cut.txt", RandomBytes(100 * 1024, 6)}) + "\r\n";
    const std::string after = EntryLine({"f.txt", "f new"}) + "\r\n";
    for (bool cutShort : {false, true}) {
        if (cutShort) server.Misbehave("cut.txt.bz2", TestHttpServer::Misbehaviour::CutBody);
        PublishList("[settings]\r\nRev|3\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n" + normal + cut + after +
                    "[/files_normal]\r\n");
        for (const std::string cancelAt : {"(no cancel)", "Извлечение a.txt", "Загрузка d.txt", "Загрузка e.txt"}) {
            SCOPED_TRACE(cancelAt + (cutShort ? ", cut body" : ""));
            const Outcome sequential = Run(false, cancelAt);
            const Outcome ahead = Run(true, cancelAt);
            EXPECT_EQ(ahead.shown, sequential.shown);
            EXPECT_EQ(ahead.files, sequential.files);
            EXPECT_GT(sequential.shown.size(), 10u);
        }
    }
    // The whole list, once more, ends as the server has it; the failures show as a failed run.
    const Outcome ahead = Run(true, "(no cancel)");
    EXPECT_EQ(ahead.files.at("maps/deep/big.dat"), big);
    EXPECT_EQ(ahead.files.at("d.txt"), "d second");
    EXPECT_EQ(ahead.files.at("backup/d.txt"), "d old");
    EXPECT_EQ(ahead.files.count("f.txt"), 0u); // after the cut body: never placed
    EXPECT_EQ(ClosingStatus(), status::kFailed);
}
