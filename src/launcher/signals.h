// The launcher's signals: which it takes, when and why.
#ifndef TARN_LAUNCHER_SIGNALS_H
#define TARN_LAUNCHER_SIGNALS_H

// Installs the launcher's handlers, first thing in main, before anything
// can change the terminal. Each signal is taken only where its action is
// still the default: an ignored signal stays ignored (SIGHUP under nohup),
// and a handler that the engine installs later is the engine's.
//
// - SIGTERM, SIGINT and SIGHUP ask the launcher to stop: the handler only
//   records the request, and the run loop stops the engine cleanly at its
//   next safe point. A second one while the stop is under way gives the
//   terminal back and ends the process at once.
// - SIGQUIT and the crash signals SIGSEGV, SIGBUS, SIGFPE, SIGILL and
//   SIGABRT end the process: the terminal is given back and the signal
//   raised again with its default action, so the exit status (or the core)
//   is the signal's. The crash signals run on a stack of their own, so that
//   an engine's stack overflow still gives the terminal back, and leave a
//   crash report first (crash_report.h).
// - SIGTSTP stops the process with the terminal given back first; SIGCONT
//   takes it again when the process is continued in the foreground.
// - SIGPIPE does nothing: a closed standard output, or a socket closed by
//   its peer, is an error of the write rather than the end of the server.
//   Being caught, not ignored, it has its default action again in any
//   program the engine starts.
// SIGALRM belongs to the interval-timer pacing strategy (alarmFunc).
void Signals_Install();

// The stop signal that asked the launcher to stop, or 0.
int Signals_StopRequested();

// Ends the process by the stop signal with its default action, once the
// launcher has stopped; a shell then shows 128+N. Where that signal cannot
// end the process (PID 1 of a namespace ignores it), exits with 128+N.
[[noreturn]] void Signals_EndByStopSignal();

#endif
