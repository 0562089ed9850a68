// Writing a whole text to a descriptor, from anywhere.
#ifndef TARN_COMMON_WRITE_ALL_H
#define TARN_COMMON_WRITE_ALL_H

#include <cstddef>

// Async-signal-safe: writes length bytes of text to fd, again after an
// interruption or a short write; false when the descriptor fails (what
// is left is not written). A descriptor that blocks makes it wait.
bool Fd_WriteAll(int fd, const char* text, size_t length);

#endif
