#ifndef TARN_COMMON_FORMAT_CUT_H
#define TARN_COMMON_FORMAT_CUT_H

#include <cstddef>

// Formats into a fixed buffer of size bytes, cutting what does not fit, for
// the places where a cut text is the intended result. The result is always
// terminated.
void Format_Cut(char* out, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Formats into a fixed buffer of size bytes, for the places where a cut text
// would mean something else (a path naming another file). False when the
// text does not fit; the buffer then holds a cut text that must not be used.
bool Format_Whole(char* out, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

#endif
