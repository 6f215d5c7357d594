// The steps that the message handlers and the supervision share: relays to the
// AIR client and to the game, stops with a grace period, and the end of a run
// after a failure.
#pragma once

#include <cstdint>

// VantrelServer_SendMessageToAllClients on the controller's AIR server (every
// connected AIR client) or game server. Nothing is sent once removal has begun.
void RelayToAirClient(int32_t messageType, const char* payload);
void RelayToGame(int32_t messageType, const char* payload);

// VantrelProcessHelper_StopProcess: waits up to graceMs for the program to end,
// then terminates it. Skipped once removal has begun.
void StopProcessWithGrace(int32_t processType, uint32_t graceMs);

// A malformed message or a game that cannot be started ends the run: the game
// and the AIR client are stopped with the ordinary grace, then the host's exit
// callback is called.
void EndRunAfterFailure();
