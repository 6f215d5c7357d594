// Lets the compiler check printf-style calls. MinGW's GCC checks `printf`
// against the Microsoft rules (no %zu); `gnu_printf` is the C99 form that our
// bounded formatting follows. Clang knows only `printf`.
#pragma once

#if defined(__MINGW32__) && !defined(__clang__)
#  define DRUX_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#  define DRUX_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif
