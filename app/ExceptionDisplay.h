#pragma once
// ExceptionDisplay.h: the application's standard exception display. An exception that leaves
// a control handler is caught at the handler's edge and its message shown in a message box
// over the window; the application goes on. Qt does not let exceptions pass through its event
// loop, so every handler is called through Guarded.
// Threads: UI thread. Memory: showing a message allocates.

#include <QWidget>

#include <exception>
#include <string>
#include <utility>

namespace oggmix {

inline constexpr const char* kExceptionBoxName = "ExceptionBox";

// Shows Message (CR LF line breaks allowed) in a window-modal message box named
// kExceptionBoxName over Window. Returns at once; the box closes itself when dismissed.
void ShowException(QWidget* Window, const std::string& Message);

// Runs handler(); an exception that leaves it is shown with ShowException.
template <class Handler>
void Guarded(QWidget* Window, Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        ShowException(Window, error.what());
    } catch (...) {
        ShowException(Window, "Unknown exception");
    }
}

}  // namespace oggmix
