// Finding processes by the file name of their executable.
#pragma once

#include <cstdint>

// The AIR client's executable file name.
constexpr const char* kAirClientExecutableName = "KyrCLient.exe";

// 1 when a matching process other than the caller ended (or could not be
// waited on) within the exit wait (20 s each), 0 when none matched or every
// one still ran.
int32_t WaitForProcessExitByName(const char* path);
// The identifier of a running AIR client found by name (letter case ignored), 0 if none.
uint32_t RefindAirClient();
