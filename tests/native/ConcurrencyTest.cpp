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
        TThreadedWindow threaded(client.Path() + "\\");
        auto worker = std::make_unique<GFilesThread>(threaded);
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
        std::string status;
        bool enabled = false;
        threaded.OnUiThread([&] {
            status = threaded.Label3Caption;
            enabled = threaded.ImgBtn2Enabled;
        });
        EXPECT_TRUE(enabled) << delayMs;
        if (delayMs < 0)
            EXPECT_TRUE(status == "Все файлы обновлены" || status == "") << status;
        else
            EXPECT_TRUE(status == "Обновление прервано" || status == "Все файлы обновлены" || status == "")
                << delayMs << ": " << status;
        EXPECT_FALSE(platform::IsFile(Local("files.lst")));
    }
}

TEST_F(WorkerThread, AnErrorRaisedOnTheWindowSideReachesTheWorker) {
    // A settings file that cannot be written makes the revision store fail inside the synchronised call.
    TThreadedWindow threaded(client.Path() + "\\no-such-folder\\");
    Publish({{"a", "1"}}, 5);
    auto worker = std::make_unique<GFilesThread>(threaded);
    worker->BaseURL = server.BaseUrl();
    worker->FullCheck = true;
    auto control = GFilesThread::Resume(std::move(worker));
    control->WaitFinished();
    std::string status;
    threaded.OnUiThread([&] { status = threaded.Label3Caption; });
    EXPECT_EQ(status, "Обновление неудалось");
    EXPECT_TRUE(platform::IsFile(Local("a")));
}
