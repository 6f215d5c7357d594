// Printable names of the three enumerations (the implementations of the
// Vantrel_*ToString exports, for use inside the library).
#pragma once

#include <cstdint>

namespace Drux {
// The name of a message type; "VANTRELMESSAGETYPE_INVALID" outside 0..37.
const char* messageTypeName(int32_t type);
// Null outside the enumeration.
const char* errorTypeName(int32_t type);
const char* processTypeName(int32_t type);
}  // namespace Drux
