// The news page: the system's web browser control hosted in a child window of the main window. The
// host answers the control as its client site and in-place site; browser events arrive at a separate
// sink so that the control's questions for ambient properties never reach the event handler.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class TNewsBrowser {
public:
    TNewsBrowser();
    ~TNewsBrowser();
    TNewsBrowser(const TNewsBrowser&) = delete;
    TNewsBrowser& operator=(const TNewsBrowser&) = delete;

    // Creates the control filling parent, once; false when the system has no browser control (or
    // one that refuses to be placed there), which leaves the launcher without its news page.
    [[nodiscard]] bool Create(HWND parent, int width, int height);
    // Starts navigating to url (no flags, target frame, post data or extra headers); nothing without a
    // control. Raises EOleError when the control refuses the navigation.
    void Navigate(const std::string& url);
    // Called for every completed navigation.
    std::function<void()> OnNavigateComplete2;
    // The event sink as the control sees it (DWebBrowserEvents2).
    IDispatch* EventSink() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
