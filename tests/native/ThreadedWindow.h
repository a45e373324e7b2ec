// A main window state whose synchronised calls run on a user-interface thread of its own, the way
// the window's message loop runs them: the caller waits, and an exception comes back to it.
#pragma once

#include "app/MainWindowState.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace testutil {

class TThreadedWindow : public TMainWindowState {
public:
    explicit TThreadedWindow(const std::string& installFolder)
        : TMainWindowState(TInstallFolder(installFolder)), ui_([this] { Loop(); }) {}
    ~TThreadedWindow() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        ui_.join();
    }
    void Synchronize(const std::function<void()>& fn) override {
        std::exception_ptr error;
        bool done = false;
        std::unique_lock<std::mutex> guard(lock_);
        calls_.push_back([&] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
            done = true;
        });
        wake_.notify_all();
        finished_.wait(guard, [&] { return done; });
        if (error) std::rethrow_exception(error);
    }
    // Runs fn on the UI thread and waits, as a button handler would.
    void OnUiThread(const std::function<void()>& fn) { Synchronize(fn); }

private:
    void Loop() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            wake_.wait(guard, [&] { return stop_ || !calls_.empty(); });
            if (calls_.empty()) return;
            auto call = std::move(calls_.front());
            calls_.pop_front();
            call();
            finished_.notify_all();
        }
    }
    std::mutex lock_;
    std::condition_variable wake_, finished_;
    std::deque<std::function<void()>> calls_;
    bool stop_ = false;
    std::thread ui_;
};

} // namespace testutil
