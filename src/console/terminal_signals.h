// Gives the operator's terminal back when a signal ends or stops the
// process while the console holds it in raw mode.
#ifndef TARN_CONSOLE_TERMINAL_SIGNALS_H
#define TARN_CONSOLE_TERMINAL_SIGNALS_H

class CTextConsoleUnix;

// Takes over the signals that end the process (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT and the crash signals) and the job-control pair SIGTSTP and
// SIGCONT, each only where its action is still the default: an ignored
// signal stays ignored. An ending signal restores the saved settings and
// then ends the process by the same signal, so the exit status is
// unchanged. SIGTSTP restores them before the process stops; SIGCONT puts
// raw mode back when the process is again in the foreground. A handler
// installed later (by the engine) is not touched.
void Terminal_GuardSignals(CTextConsoleUnix* console);

#endif
