// The shared library's own translation unit: every public header, compiled
// together as C++ (tests/core compiles them as C). The library's code comes
// from the layers' archives.
#include "Vantrel.h"
#include "VantrelGameController.h"
#include "VantrelMessageAgent.h"
#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "VantrelServerController.h"

static_assert(sizeof(VantrelMessageHeader) == 16, "the wire header is 16 bytes");
static_assert(sizeof(PatchFunctionTable) == 18 * sizeof(void*), "the patch table holds 18 entry points");
