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
// The stop signal received since Sig_Install, or 0.
int Sig_Received();
// "SIGINT" or "SIGTERM".
const char* Sig_Name(int number);

#endif
