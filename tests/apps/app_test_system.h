// What the programs' tests need of the system: loading a library as the
// launcher loads patcher.dll, and setting environment variables for the
// programs. One implementation per system (app_test_system_posix.cpp,
// app_test_system_win32.cpp).
#pragma once

#include <string>

namespace AppTest {

// Null when the library cannot be loaded; *error then says why.
void* loadLibrary(const std::string& path, std::string* error);
void* findEntry(void* library, const char* name);
void freeLibrary(void* library);
void setEnvironment(const char* name, const std::string& value);

}  // namespace AppTest
