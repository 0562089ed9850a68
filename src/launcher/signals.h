// The launcher's signals: which it takes, when and why.
#ifndef TARN_LAUNCHER_SIGNALS_H
#define TARN_LAUNCHER_SIGNALS_H

// Installs the launcher's handlers, at the start of main, before anything
// can change the terminal. Each signal is taken only where its action is
// still the default: an ignored signal stays ignored, and a handler that
// the engine installs later is the engine's.
//
// - SIGINT, SIGTERM, SIGHUP, SIGQUIT and the crash signals SIGSEGV, SIGBUS,
//   SIGFPE, SIGILL, SIGABRT end the process: the console gives the
//   terminal back, and the signal is raised again with its default action,
//   so the exit status (or the core) is the signal's.
// - SIGTSTP stops the process with the terminal given back first.
// - SIGCONT takes the terminal again, when the process is continued in
//   the foreground.
// SIGALRM belongs to the interval-timer pacing strategy (alarmFunc).
void Sys_InstallSignals();

#endif
