#pragma once
// The signals that end a program from outside: SIGTERM (a logout, a shutdown, kill), SIGINT
// (Ctrl-C in the terminal that started it) and SIGHUP (that terminal closed). Left alone they end
// the program at once, and what it holds in memory is lost. Caught here, each reaches the event
// loop of the thread that installed the handler, as a call of that handler there, so the program
// ends as its own exit command does.
#include <functional>

namespace platform {

// Catches SIGTERM, SIGINT and SIGHUP from now on and calls `handler` with the signal's number
// on the calling thread's event loop, once for each signal that arrives. Call on the window
// thread after the application object exists; a later call replaces the handler. A signal that
// was ignored when the program started (nohup) stays ignored. False when the signals cannot be
// caught (they then end the program as before).
bool HandleEndSignals(std::function<void(int signal)> handler);

// Drops the handler: signals that arrive from now on are let pass unanswered. Call before the
// objects the handler uses go.
void StopHandlingEndSignals();

// The signal's name for messages ("SIGTERM").
const char *EndSignalName(int signal);

} // namespace platform
