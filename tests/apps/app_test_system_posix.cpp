#include <dlfcn.h>
#include <stdlib.h>

#include "app_test_system.h"

namespace AppTest {

void* loadLibrary(const std::string& path, std::string* error) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) *error = ::dlerror();
    return library;
}

void* findEntry(void* library, const char* name) { return ::dlsym(library, name); }

void freeLibrary(void* library) { ::dlclose(library); }

void setEnvironment(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

}  // namespace AppTest
