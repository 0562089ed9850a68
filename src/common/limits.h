// The limits that more than one room of the launcher, or one of its tools,
// must agree on.
#ifndef TARN_COMMON_LIMITS_H
#define TARN_COMMON_LIMITS_H

// The characters a console line may hold, typed on the terminal or sent
// through the control socket. A macro as well, so that a message fixed at
// compile time can name it: TARN_DECIMAL(TARN_MAX_CONSOLE_LINE) is "254".
#define TARN_MAX_CONSOLE_LINE 254
constexpr int kMaxConsoleLine = TARN_MAX_CONSOLE_LINE;

// A crash report is written only while the errorlogs folder holds fewer
// error logs than this; tarn-run says so when it finds as many.
constexpr int kMaxErrorLogs = 100;

// A number macro's digits as a string literal.
#define TARN_DECIMAL(number) TARN_DECIMAL_DIGITS(number)
#define TARN_DECIMAL_DIGITS(number) #number

#endif
