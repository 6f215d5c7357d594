// The steps that the message handlers and the supervision share: relays to the
// AIR client and to the game, stops with a grace period, and the end of a run
// after a failure.
#pragma once

#include <cstdint>

// VantrelServer_SendMessageToAllClients on the controller's AIR server (every
// connected AIR client) or game server. Nothing is sent once removal has begun.
namespace Drux {
void relayToAirClient(int32_t messageType, const char* payload);
}  // namespace Drux
namespace Drux {
void relayToGame(int32_t messageType, const char* payload);
}  // namespace Drux

// VantrelProcessHelper_StopProcess: waits up to graceMs for the program to end,
// then terminates it. Skipped once removal has begun.
namespace Drux {
void stopProcessWithGrace(int32_t processType, uint32_t graceMs);
}  // namespace Drux

// A malformed message or a game that cannot be started ends the run: the game
// and the AIR client are stopped with the ordinary grace, then the host's exit
// callback is called.
namespace Drux {
void endRunAfterFailure();
}  // namespace Drux
