// The Vantrel_ family: library lifetime, the log, the seconds clock and the
// names of the enumerations.
#include "Vantrel.h"
#include "core/enum_names.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"

namespace {

constexpr size_t kNameSize = 320;
constexpr size_t kLineSize = 1024;

// Copies a name (the empty string for none) into the caller's buffer.
int32_t copyName(const char* exportName, const char* name, char* buffer, uint32_t bufferSize, int32_t result) {
    if (buffer == nullptr || bufferSize == 0) {
        Drux::LogErrorF(kNameSize, "%s: no buffer to write the name into.\n", exportName);
        return 0;
    }
    Drux::std_strncpy(buffer, bufferSize, name != nullptr ? name : "");
    return name != nullptr ? result : 0;
}

}  // namespace

extern "C" {

int32_t Vantrel_Init(const char* tag) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        const char* name = tag != nullptr ? tag : "";
        char fileName[kNameSize];
        Drux::boundedPrintf(fileName, sizeof fileName, "vantrel-%s.log", name);
        Drux::LogFile::Create(fileName);
        Drux::LogInfoF(kNameSize, "vantrel [%s] initializing...\n", name);
        return int32_t{1};
    });
}

int32_t Vantrel_Remove(void) {
    return Drux::guardExport(__func__, int32_t{0}, [] {
        Drux::LogInfo("vantrel exiting...\n");
        Drux::LogFile::Destroy();
        return int32_t{1};
    });
}

int32_t Vantrel_Log(int32_t level, const char* text) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        if (text == nullptr) {
            Drux::LogError("Vantrel_Log: no text to log.\n");
            return int32_t{1};
        }
        const char* format = "%s";
        if (level == VANTREL_LOG_INFO)
            format = "INFO: %s";
        else if (level == VANTREL_LOG_WARNING)
            format = "WARNING: %s";
        else if (level == VANTREL_LOG_ERROR)
            format = "ERROR: %s";
        char line[kLineSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        Drux::boundedPrintf(line, sizeof line, format, text);
#pragma GCC diagnostic pop
        LogPrintf("%s", line);
        return int32_t{1};
    });
}

int32_t Vantrel_GetElapsedSeconds(uint32_t* seconds) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        if (seconds == nullptr) {
            Drux::LogError("Vantrel_GetElapsedSeconds: no place to store the seconds.\n");
            return int32_t{0};
        }
        *seconds = Drux::tickMilliseconds() / 1000;
        return int32_t{1};
    });
}

int32_t Vantrel_MessageTypeToString(int32_t messageType, char* buffer, uint32_t bufferSize) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        return copyName("Vantrel_MessageTypeToString", Drux::messageTypeName(messageType), buffer, bufferSize, 1);
    });
}

int32_t Vantrel_ErrorToString(int32_t errorType, char* buffer, uint32_t bufferSize) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        return copyName("Vantrel_ErrorToString", Drux::errorTypeName(errorType), buffer, bufferSize, 1);
    });
}

int32_t Vantrel_ProcessTypeToString(int32_t processType, char* buffer, uint32_t bufferSize) {
    return Drux::guardExport(__func__, int32_t{0}, [&] {
        return copyName("Vantrel_ProcessTypeToString", Drux::processTypeName(processType), buffer, bufferSize, 1);
    });
}

}  // extern "C"
