// Command lines split by the Windows rules on every system, so that a program
// started on either gets the same arguments from the same line.
#include "core/platform/command_line.h"

namespace Drux {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

size_t splitCommandLine(const char* commandLine, char* storage, char** arguments, size_t maxArguments) {
    if (commandLine == nullptr || storage == nullptr || arguments == nullptr || maxArguments == 0) return 0;
    const char* p = commandLine;
    char* out = storage;
    size_t count = 0;

    // The program name: quotes group, backslashes are taken as they are.
    {
        char* start = out;
        bool quoted = false;
        for (; *p != '\0'; ++p) {
            if (*p == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && isBlank(*p)) break;
            *out++ = *p;
        }
        *out++ = '\0';
        arguments[count++] = start;
    }

    for (;;) {
        while (isBlank(*p)) ++p;
        if (*p == '\0' || count == maxArguments) break;
        char* start = out;
        bool quoted = false;
        for (;;) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p == '"') {
                for (size_t i = 0; i < backslashes / 2; ++i) *out++ = '\\';
                if (backslashes % 2 == 1) {
                    *out++ = '"';  // an escaped quote is a literal one
                } else {
                    quoted = !quoted;
                }
                ++p;
                continue;
            }
            for (size_t i = 0; i < backslashes; ++i) *out++ = '\\';
            if (*p == '\0' || (!quoted && isBlank(*p))) break;
            *out++ = *p++;
        }
        *out++ = '\0';
        arguments[count++] = start;
    }
    return count;
}

}  // namespace Drux
