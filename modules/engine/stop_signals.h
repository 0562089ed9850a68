// SIGINT and SIGTERM stop the server the way "quit" does, so that a
// management tool's Ctrl-C or SIGTERM is a clean stop.
//
// The handlers live in this module, which the launcher unloads after
// Shutdown: Sig_Restore must put the previous handlers back before that,
// or the next signal would jump into unmapped code.
#ifndef TARN_MODULES_ENGINE_STOP_SIGNALS_H
#define TARN_MODULES_ENGINE_STOP_SIGNALS_H

// Installs the handlers, keeping the previous ones.
void Sig_Install();
// Puts the previous handlers back. Safe to call when nothing is installed.
void Sig_Restore();
// After Sig_Restore: a stop signal that the engine took is raised again for
// the handler it displaced, where there was one, so that a launcher that
// handles stops itself also knows the process was asked to stop (and ends
// by the signal, as its supervisor expects). Nothing when the stop came
// from the console, when the previous action was the default, or when a
// second signal went on to that handler already.
void Sig_HandOn();
// The stop signal received since Sig_Install, or 0.
int Sig_Received();
// "SIGINT" or "SIGTERM".
const char* Sig_Name(int number);

#endif
