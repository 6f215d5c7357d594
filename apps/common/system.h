// The few system services that the programs need beyond the library's exports
// and the standard library, one implementation per system (system_posix.cpp,
// system_win32.cpp).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "VantrelTypes.h"

namespace DruxApps {

// What program files end in: "" on POSIX, ".exe" on Windows.
extern const char kProgramSuffix[];

int currentProcessId();
// The running executable's full path; empty when it cannot be read.
std::string executablePath();

// Starts the system's socket library for this program's own connections
// (Windows Sockets 2.2; nothing elsewhere). Counted: pair with stopSockets.
bool startSockets();
void stopSockets();
// A TCP connection to 127.0.0.1:port with TCP_NODELAY; false with a reason.
bool connectLoopback(int port, VantrelSocket* socket, std::string* error);
// `count` loopback ports that are free now: each bound to 127.0.0.1 port 0,
// all at once (so they differ), then released. Empty with a reason on failure.
std::vector<int> freeLoopbackPorts(int count, std::string* error);
// Why 127.0.0.1:port cannot be listened on now, bound as the library binds its
// ports, with the likely cause; empty when it can.
std::string whyPortCannotBeBound(int port);

void closeSocket(VantrelSocket socket);

// A file that lines are appended to, each with one write, so that the lines of
// several processes interleave whole. Null when it cannot be opened.
void* openAppendFile(const char* path);
void appendToFile(void* file, const std::string& line);
void closeAppendFile(void* file);

// Broken-down local time of `seconds` since the epoch.
std::tm localTime(std::time_t seconds);

// Waits up to timeoutMs for standard input to have something to read (or its
// end): 1 then, 0 on time-out, -1 on failure.
int waitForStandardInput(int timeoutMs);
// Reads what standard input has: the count, 0 at its end, -1 on failure.
long readStandardInput(char* buffer, size_t size);

}  // namespace DruxApps
