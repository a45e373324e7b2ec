// What the launcher's windows ask of the Windows shell and the application: the one error box every
// handler's exception goes to, the desktop shortcut, and opening a web page in the player's browser.
// Both the main window and the settings dialog use it.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

// The application title: the taskbar's text and every error box's caption.
extern const wchar_t kApplicationTitle[];

// The window error boxes belong to (the main window once it exists).
void SetApplicationWindow(HWND window);
// A message box titled "Vandrel_Updater" with the error's message; the program goes on. Messages are
// the launcher's English texts with data (paths, values) in the ANSI code page.
void ShowException(const std::exception& error);
// Where error boxes go instead, while set (tests read the messages rather than answer a modal box).
void SetErrorReporter(std::function<void(const std::string& message)> reporter);
// Runs a handler; an exception it raises goes to ShowException.
void RunGuarded(const std::function<void()>& handler);

// Writes "<desktop>\<name>.lnk" pointing at the running exe, with the working folder and description.
// Nothing happens for an empty name or when the desktop folder is unknown; a shortcut that cannot be
// saved is silently not written. Raises EOleError when the shell's link object is unavailable.
void CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                           const std::string& description);

// Hands a URL to the shell's default action (the player's browser); the result is not examined.
void OpenLink(HWND owner, const std::string& url);
