#pragma once
// Window messages between threads, in place of the Windows message queue of the application
// window.
//
// - RegisterWindowMessage gives the same number (0xC000 and up) for the same name within the
//   process, whatever the letter case.
// - The application window is one message target living on the thread that created it (the GUI
//   thread). Hooks see each message first, in the order they were added; the first hook that
//   returns true handles it.
// - SendMessage on the window thread runs the hooks at once; from any other thread it blocks the
//   caller until the window thread has run them and returns the result. A send made while the
//   window is being destroyed returns 0 at once instead of blocking.
// - PostMessage queues; posted messages are handled in posting order, each with its payload
//   (a text that travels with the message) intact.
// - A timer delivers WM_TIMER with the timer id as wParam.
// - The outside libraries deliver reports to a window handle through the C entries at the end.
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HWND = std::uint32_t;

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

UINT RegisterWindowMessage(const QString &name);

struct Message {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    QString payload;     // a text posted with the message
    LRESULT result = 0;  // what a handling hook sets for SendMessage
};

class ApplicationWindow : public QObject {
    Q_OBJECT
public:
    using Hook = std::function<bool(Message &)>;

    // Creates the application window on the calling thread; there is one a process.
    ApplicationWindow();
    ~ApplicationWindow() override;

    static ApplicationWindow *instance();
    HWND handle() const;

    int addHook(Hook hook);     // returns an id for removeHook
    void removeHook(int id);

    LRESULT sendMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Runs fn on the window thread in order with the messages, as a send does: at once on the
    // window thread; from another thread the caller blocks until fn has run. Returns false, with
    // fn not run, when the window is gone or goes before fn's turn.
    bool call(const std::function<void()> &fn);
    void postMessage(UINT msg, WPARAM wParam, LPARAM lParam, const QString &payload = QString());

    void setTimer(WPARAM id, int intervalMs);
    void killTimer(WPARAM id);

private:
    struct Private;
    Private *d;
};

} // namespace platform

extern "C" {
// The window handle of the application window, or 0 when none exists.
std::uint32_t platform_ApplicationWindowHandle(void);
// SendMessage / PostMessage to a window handle; an unknown handle returns 0 and delivers nothing.
std::intptr_t platform_SendMessage(std::uint32_t hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
int platform_PostMessage(std::uint32_t hwnd, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
std::uint32_t platform_RegisterWindowMessage(const char *name);
}
