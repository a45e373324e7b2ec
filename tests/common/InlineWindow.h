// A main window state whose synchronised calls run at once on the calling thread.
#pragma once

#include "app/MainWindowState.h"

#include <functional>

namespace testutil {

class TInlineWindow : public TMainWindowState {
public:
    using TMainWindowState::TMainWindowState;
    void Synchronize(const std::function<void()>& fn) override { fn(); }
};

} // namespace testutil
