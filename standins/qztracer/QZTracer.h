// Trace channel of the maker's libraries: QZTraceW takes a wide printf-style
// format with the Windows meaning of the placeholders (%s a wide string, %S a
// narrow one, %d an int, %ld a long) and writes one line.
//
// Where lines go: nowhere by default. The environment variable QZTRACE set to
// "stderr" sends them to standard error, set to any other value appends them
// to the file of that name; each line carries a UTC timestamp and the thread
// id before the text, and line breaks inside the text become blanks. A process (a test, a tool) can install its own sink,
// which then receives every line's text alone.
#pragma once

#include <cstdarg>

#if defined(_WIN32)
#  define QZTRACER_API __declspec(dllexport)
#else
#  define QZTRACER_API __attribute__((visibility("default")))
#endif

extern "C" {

QZTRACER_API void QZTraceW(const char16_t* format, ...);
QZTRACER_API void QZTraceVW(const char16_t* format, va_list args);

// Receives the text of one line (NUL-terminated, no line break).
typedef void (*QZTraceSink)(const char16_t* line, void* context);
// Installs a sink for the whole process; null restores the environment's choice.
QZTRACER_API void QZTraceSetSink(QZTraceSink sink, void* context);

}
