// Digesting ahead on other threads changes nothing the window shows or the folder ends with.
#include "tests/native/UpdateFixture.h"

#include <filesystem>
#include <map>

using namespace testutil;

namespace {

class DigestAhead : public UpdateFixture {
protected:
    struct Outcome {
        std::vector<std::string> statuses;
        std::map<std::string, std::string> files;
        bool operator==(const Outcome& other) const { return statuses == other.statuses && files == other.files; }
    };
    // One run from the same folder and list, with the given helpers, cancelled when cancelAt shows.
    Outcome Run(unsigned threads, const std::string& cancelAt) {
        for (const auto& [name, content] : start) WriteBytes(Local(name), content);
        platform::RemoveFile(Local("new.txt"));
        beforeRun = [threads](GFilesThread& worker) { worker.DigestThreads = threads; };
        window.onStatus = [&](const std::string& text) {
            if (text == cancelAt) cancel();
        };
        try {
            RunUpdate();
        } catch (const Exception&) {
        }
        Outcome outcome{window.statuses, {}};
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "new.txt"})
            outcome.files[name] = platform::IsFile(Local(name)) ? ReadBytes(Local(name)) : "<none>";
        return outcome;
    }
    std::map<std::string, std::string> start = {
        {"a.txt", "a current"}, {"b.txt", "b old"}, {"c.txt", "c current"}, {"d.txt", "d old"}};
};

} // namespace

TEST_F(DigestAhead, RunsShowAndLeaveTheSameAsOneFileAtATime) {
    const std::string normal = EntryLine({"a.txt", "a current"}) + "\r\n" + EntryLine({"b.txt", "b new"}) + "\r\n" +
                               "..\\outside.txt|" + Md5Hex("x") + "|1\r\n" + EntryLine({"new.txt", "n"}) + "\r\n" +
                               EntryLine({"c.txt", "c current"}) + "\r\n" + EntryLine({"d.txt", "d first"}) + "\r\n" +
                               EntryLine({"b.txt", "b new"}) + "\r\n" + EntryLine({"d.txt", "d second"}) + "\r\n";
    const std::string head = "[settings]\r\nRev|3\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\n" +
                             EntryLine({"c.txt", "c current"}) + "\r\n[/files_critical]\r\n[files_normal]\r\n";
    // A sound list, then one whose last entry has a size that is no number.
    for (const std::string& tail : {std::string(), std::string("e.txt|") + Md5Hex("e") + "|many\r\n"}) {
        PublishList(head + normal + tail + "[/files_normal]\r\n");
        for (const std::string cancelAt : {"(no cancel)", "Проверка файлов new.txt", "Проверка файлов d.txt", "Загрузка b.txt"}) {
            SCOPED_TRACE(cancelAt + (tail.empty() ? "" : ", bad size"));
            const Outcome sequential = Run(0, cancelAt);
            const Outcome ahead = Run(2, cancelAt);
            EXPECT_EQ(ahead.statuses, sequential.statuses);
            EXPECT_EQ(ahead.files, sequential.files);
            EXPECT_GT(sequential.statuses.size(), 3u);
        }
    }
}
