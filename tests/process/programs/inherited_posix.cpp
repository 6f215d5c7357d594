#include <dirent.h>

#include <cstdlib>

#include "inherited.h"

int inheritedDescriptorCount() {
    int descriptors = 0;
    DIR* directory = opendir("/proc/self/fd");
    while (const dirent* entry = directory != nullptr ? readdir(directory) : nullptr)
        descriptors += std::atoi(entry->d_name) > 2 && std::atoi(entry->d_name) != dirfd(directory) ? 1 : 0;
    if (directory != nullptr) closedir(directory);
    return descriptors;
}
