/*
 * DruxLauncher: a listening server on one loopback port; every accepted
 * connection gets its own message agent wired to the server's callback.
 * Compiles as C and as C++.
 *
 * Set the callback before Start: each client copies it when it is accepted.
 * A client whose connection has ended is dropped at once (its agent deleted,
 * its socket closed): once every client has left, a broadcast finds none and
 * logs "No clients are currently connected." (and returns 1), as it does
 * before the first one came. A server holds at most 64 connections; it closes
 * any connection beyond that as it arrives.
 * Delete lets every connection's queue drain to a peer that reads (within
 * one budget of 2.7 s for all of them), then shuts the connections down.
 * The host must have started the socket layer (WSAStartup on Windows).
 */
#ifndef DRUX_VANTREL_SERVER_H
#define DRUX_VANTREL_SERVER_H

#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

typedef struct VantrelServer* VantrelServerHandle;

VANTREL_API int32_t VantrelServer_Create(VantrelServerHandle* server);
VANTREL_API int32_t VantrelServer_SetMessageArrivedCallback(VantrelServerHandle server, void* userData,
                                                            VantrelMessageArrivedCallback callback);
VANTREL_API int32_t VantrelServer_Start(VantrelServerHandle server, int32_t port);
/* Sends to every running client, newest first. A NULL server means the launcher
 * controller's AIR server. */
VANTREL_API int32_t VantrelServer_SendMessageToAllClients(VantrelServerHandle server, int32_t messageType,
                                                          const char* payload);
VANTREL_API int32_t VantrelServer_Delete(VantrelServerHandle* server);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_SERVER_H */
