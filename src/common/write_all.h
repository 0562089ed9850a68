// Writing to a descriptor: a whole text from anywhere, and the test of a
// failure that passes.
#ifndef TARN_COMMON_WRITE_ALL_H
#define TARN_COMMON_WRITE_ALL_H

#include <cstddef>

// Async-signal-safe: writes length bytes of text to fd, again after an
// interruption or a short write; false when the descriptor fails (what
// is left is not written). A descriptor that blocks makes it wait.
bool Fd_WriteAll(int fd, const char* text, size_t length);

// Async-signal-safe, after a call on a non-blocking descriptor failed:
// true when it failed only for now, because it would have had to wait
// (EAGAIN, EWOULDBLOCK) or a signal interrupted it (EINTR), so that the
// same call may succeed later.
bool Fd_WouldBlock();

#endif
