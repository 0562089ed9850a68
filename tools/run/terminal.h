// The operator's terminal as tarn-run found it, for a launcher that could
// not give it back itself (SIGKILL, the kernel's out-of-memory kill).
#ifndef TARN_RUN_TERMINAL_H
#define TARN_RUN_TERMINAL_H

// Saves the settings when standard input is a terminal.
void Terminal_Save();
// Puts them back, when saved and tarn-run is in the foreground: a job in
// the background must leave the shell's settings be.
void Terminal_Restore();

#endif
