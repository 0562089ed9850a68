// The one owner of the launcher's output: standard output, where the
// launcher's messages and everything Sys_Printf prints for the engine go,
// and the console's echo stream.
//
// A reader that stalls (Ctrl-S on the terminal, a log pipe nobody drains, a
// busy journal socket) never holds a frame: what the destination cannot
// take now waits in a bounded queue and drains, in order, at the frame
// loop's next flushes; past the bound whole lines are dropped, counted, and
// announced with "Output was blocked: N lines dropped." where they were
// lost. When the reader keeps up, every write goes out within the call that
// made it.
//
// The descriptions that others share (the shell's terminal, a parent's
// pipe) never get O_NONBLOCK: a terminal or a pipe is opened again through
// /proc/self/fd, which gives the launcher a description of its own, and a
// socket is sent to with MSG_DONTWAIT, a flag of the call. Descriptor 1
// itself stays what the engine was given. A regular file or "/dev/null" is
// written in full: it never stalls for long.
//
// One exception waits: a terminal that cannot be opened again (another
// user's, after su; no /proc) is written blocking, because O_NONBLOCK on the
// shared description would change it for the shell and every process that
// holds it, and a terminal offers no poll-then-write that cannot wait. A
// reader that stalls it (Ctrl-S) then holds the frame, and the crash
// handler's last words (Output_WriteLast) go through the same descriptor. A
// FIFO in that case is polled before each write of at most PIPE_BUF bytes.
#ifndef TARN_OUTPUT_OUTPUT_H
#define TARN_OUTPUT_OUTPUT_H

#include "output/output_history.h"

#include <cstddef>
#include <cstdint>

enum class OutputStream { kStdout, kEcho };

// What may wait for a stalled reader: standard output's queue holds about
// 25,000 lines of a busy server; the echo of typing needs little.
constexpr size_t kStdoutQueueSize = 256 * 1024;
constexpr size_t kEchoQueueSize = 16 * 1024;
// How long the end of the process may spend writing what still waits.
constexpr int64_t kDrainMicroseconds = 1000000;

// Looks at what standard output is and how to write it without waiting;
// first thing in main. Until then, writes go to descriptor 1 as a plain
// write. Also makes every way out of the process through exit drain.
void Output_Open();
// The console's echo stream, on its descriptor; the echo shares standard
// output's queue when both are the same terminal, so they keep their order.
void Output_OpenEcho(int descriptor);

// Writes, queues or drops; never waits on a reader, but for the blocking
// fallback above.
void Output_Write(OutputStream stream, const char* text, size_t length);
// The frame loop's safe point: what waits goes out as far as the readers
// take it. With nothing waiting it costs no system call.
void Output_Flush();
// At the end of the process: writes what waits for at most
// kDrainMicroseconds in all, however often it is called; what is left then
// is lost.
void Output_Drain();
// The recent stream of standard output, every line of it, whatever
// standard output's reader took: what an attached console shows, and what a
// crash report quotes.
const OutputHistory& Output_History();
// Async-signal-safe, for a handler that ends the process: writes text on
// standard output at once, past whatever waits, in one attempt that never
// waits; what the reader cannot take is lost.
void Output_WriteLast(const char* text, size_t length);
// Lines dropped since the start, on both streams.
int64_t Output_DroppedLines();

#endif
