// The message-arrived handlers of the controller's three servers. Each runs on
// the reading thread of the connection that delivered the message and returns 1.
#pragma once

#include <cstdint>

int32_t OnLauncherServerMessage(void* context, int32_t messageType, const char* payload);
int32_t OnAirServerMessage(void* context, int32_t messageType, const char* payload);
int32_t OnGameServerMessage(void* context, int32_t messageType, const char* payload);
