// Message type names for printing and for reading them back from scripts.
#pragma once

#include <cstdint>
#include <string>

namespace DruxApps {

// "GAMECLIENT_LAUNCHED" for 8: the library's name without "VANTRELMESSAGETYPE_".
std::string messageTypeName(int32_t type);
// The library's full name, e.g. "VANTRELERRORTYPE_AIRHEARTBEAT".
std::string errorTypeName(int32_t type);
// Reads a message type 0..37 given as a number, a full name, or a name
// without "VANTRELMESSAGETYPE_" or without "VANTRELMESSAGETYPE_GAMECLIENT_"
// (letter case ignored). False for anything else.
bool parseMessageType(const std::string& text, int32_t* type);
// "CHATMESSAGE_FROM_GAME \"echo: hi\"" (payload quoted and cut at 300
// characters), or the bare name when there is no payload.
std::string describeMessage(int32_t type, const char* payload);

}  // namespace DruxApps
