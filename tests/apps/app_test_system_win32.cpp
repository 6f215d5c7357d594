#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app_test_system.h"

namespace AppTest {

void* loadLibrary(const std::string& path, std::string* error) {
    HMODULE library = ::LoadLibraryA(path.c_str());
    if (library == nullptr) *error = "LoadLibraryA failed with error " + std::to_string(::GetLastError());
    return library;
}

void* findEntry(void* library, const char* name) {
    const FARPROC entry = ::GetProcAddress(static_cast<HMODULE>(library), name);
    void* result = nullptr;
    std::memcpy(&result, &entry, sizeof result);
    return result;
}

void freeLibrary(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }

// Both the runtime's copy (getenv) and the process's (child processes).
void setEnvironment(const char* name, const std::string& value) {
    ::_putenv_s(name, value.c_str());
    ::SetEnvironmentVariableA(name, value.c_str());
}

}  // namespace AppTest
