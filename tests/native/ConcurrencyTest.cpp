#include "support/LauncherNames.h"
// The worker on its own thread, with a user-interface thread that runs its synchronised calls the way
// the window's message loop does, and the window cancelling while the run goes on.
#include "tests/native/ThreadedWindow.h"
#include "tests/native/UpdateFixture.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using namespace testutil;

namespace {

class WorkerThread : public UpdateFixture {};

} // namespace

TEST_F(WorkerThread, RunsWhileTheWindowCancelsAtAnyMoment) {
    std::vector<ListEntry> files;
    for (int i = 0; i < 40; ++i) files.push_back({"f" + std::to_string(i), RandomBytes(5000, i), i % 2 == 0});
    Publish(files, 3);
    for (int delayMs : {-1, 0, 2, 5, 10}) {
        SCOPED_TRACE(delayMs);
        // Every third file is there in an old edition; the others are missing.
        for (size_t i = 0; i < files.size(); ++i) {
            platform::RemoveFile(Local(files[i].path));
            if (i % 3 == 0) WriteBytes(Local(files[i].path), "old " + std::to_string(i));
        }
        TThreadedWindow threaded(client.Path());
        auto worker = std::make_unique<GFilesThread>(threaded, threaded.Folder());
        worker->SetCancelled(false);
        worker->BaseURL = server.BaseUrl();
        worker->FullCheck = true;
        std::shared_ptr<TRunControl> control = GFilesThread::Resume(std::move(worker));
        if (delayMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            threaded.OnUiThread([&] {
                control->Terminated = true;
                control->Cancelled = true;
            });
        }
        control->WaitFinished();
        // Whatever the moment of the cancel: the buttons are back, nothing of the run is left
        // behind, and every file is either its old self or exactly the new one.
        bool enabled = false;
        threaded.OnUiThread([&] { enabled = threaded.ImgBtn1Enabled && threaded.ImgBtn2Enabled; });
        EXPECT_TRUE(enabled);
        EXPECT_FALSE(platform::IsFile(Local("files.lst")));
        EXPECT_FALSE(platform::IsFile(Local("files.lst.bz2")));
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string& path = files[i].path;
            EXPECT_FALSE(platform::IsFile(Local(path + ".bz2"))) << path;
            EXPECT_FALSE(platform::IsFile(Local(path + names::kUnpackSuffix))) << path;
            if (platform::IsFile(Local(path)) && Md5OfFile(Local(path)) != Md5Hex(files[i].content)) {
                ASSERT_EQ(i % 3, 0u) << path << " appeared without being installed whole";
                EXPECT_EQ(ReadBytes(Local(path)), "old " + std::to_string(i));
            }
        }
        if (delayMs < 0) {
            for (const ListEntry& file : files) EXPECT_EQ(Md5OfFile(Local(file.path)), Md5Hex(file.content));
        }
    }
}

TEST_F(WorkerThread, AnErrorRaisedOnTheWindowSideReachesTheWorker) {
    // A settings file that cannot be written makes the revision store fail inside the synchronised call.
    TThreadedWindow threaded(client.Path() + "\\no-such-folder");
    Publish({{"a", "1"}}, 5);
    auto worker = std::make_unique<GFilesThread>(threaded, TInstallFolder(client.Path()));
    worker->BaseURL = server.BaseUrl();
    worker->FullCheck = true;
    auto control = GFilesThread::Resume(std::move(worker));
    control->WaitFinished();
    std::string status;
    threaded.OnUiThread([&] { status = threaded.Label3Caption; });
    EXPECT_EQ(status, "Обновление неудалось");
    EXPECT_TRUE(platform::IsFile(Local("a")));
}
