/*
 * DruxLauncher: library lifetime, the log, the seconds clock and the names of
 * the enumerations. Compiles as C and as C++.
 */
#ifndef DRUX_VANTREL_H
#define DRUX_VANTREL_H

#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

/* Log levels of Vantrel_Log; any other value writes the text without a prefix. */
enum { VANTREL_LOG_INFO = 0, VANTREL_LOG_WARNING = 1, VANTREL_LOG_ERROR = 2 };

/* Opens the log "vantrel-<tag>.log" in the current directory, deleting an older
 * file of that tag. Call it before any other export. Returns 1. */
VANTREL_API int32_t Vantrel_Init(const char* tag);
/* Writes the closing line and closes the log. Call it last. Returns 1. */
VANTREL_API int32_t Vantrel_Remove(void);
/* Appends text (never used as a format) behind the level's prefix. Returns 1. */
VANTREL_API int32_t Vantrel_Log(int32_t level, const char* text);
/* Seconds since the system started (millisecond tick / 1000, wraps with it). Returns 1. */
VANTREL_API int32_t Vantrel_GetElapsedSeconds(uint32_t* seconds);

/* Printable names. Message types outside 0..37 name VANTRELMESSAGETYPE_INVALID and
 * return 1; the other two write "" and return 0 for a value outside their range.
 * The name is cut to bufferSize - 1 characters; bufferSize must be at least 1. */
VANTREL_API int32_t Vantrel_MessageTypeToString(int32_t messageType, char* buffer, uint32_t bufferSize);
VANTREL_API int32_t Vantrel_ErrorToString(int32_t errorType, char* buffer, uint32_t bufferSize);
VANTREL_API int32_t Vantrel_ProcessTypeToString(int32_t processType, char* buffer, uint32_t bufferSize);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_H */
