// The machine-wide marker of a running launcher: a named object that exists
// while a handle to it is open and disappears when its owner dies.
#pragma once

#include <boost/shared_ptr.hpp>

#include "core/platform/native.h"

namespace Drux {

class SharedMutex {
public:
    SharedMutex();  // tries to create "DRUX_VANTREL_MUTEX"
    ~SharedMutex();
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    // False when the object could not be created or already existed.
    bool hasHandle() const { return handle_ != kInvalidNativeHandle; }

private:
    NativeHandle handle_ = kInvalidNativeHandle;
};

boost::shared_ptr<SharedMutex> createSharedMutex();

}  // namespace Drux
