/*
 * DruxLauncher: the message agent, which serves one connected socket with a
 * reading thread (automatic replies, message-arrived callback) and a heartbeat
 * thread (a heartbeat every 25 seconds while the heartbeat flag is 1).
 * Compiles as C and as C++.
 *
 * Calling order: Create; SetMessageArrivedCallback; Start on a connected socket;
 * SendMessage from any thread; Delete; the socket's owner closes its handle.
 *
 * The socket handed to Start stays the host's: the agent works on its own
 * duplicate of it and closes that itself once its threads have ended. On
 * Windows the duplicate is made non-blocking; on POSIX the two handles share
 * their settings, so the agent leaves the blocking mode alone and sets a
 * receive time-out of 20 ms (SO_RCVTIMEO) instead. From the start
 * on, the host neither reads from nor writes to its handle.
 *
 * Because the agent holds its own duplicate, closing the host's handle no
 * longer ends the connection: to end it, delete the agent, or shut the
 * connection down (shutdown on the host's handle; the agent then sees it end,
 * and whatever was still queued for the peer is lost). The host may close its
 * handle at any time, before or after Delete; the agent never touches the
 * host's descriptor number, so a new socket that reuses that number is not
 * read by the old agent.
 *
 * Delete first lets the outgoing queue drain to a peer that reads (within the
 * 3000 ms it waits for the agent's threads; what a peer that does not read
 * leaves queued is then dropped, with a warning), then ends its sending side
 * (the peer sees the end after the last byte), so every message that
 * SendMessage accepted reaches a reading peer.
 *
 * Messages are handled one at a time, in arrival order: each one's REPLY
 * leaves before its callback runs, and the next one's REPLY only after that
 * callback has returned (with whatever the callback sent on this connection
 * before it). A message read after the agent was stopped is neither answered
 * nor delivered.
 *
 * Start also sets TCP_NODELAY on the connection (a socket option, so the
 * host's handle has it too): each message leaves in one send, and a peer
 * that delays its acknowledgements must not hold the next one back.
 *
 * SendMessage returns 1 when the message was accepted for sending: what the
 * socket does not take at once waits in the connection's outgoing queue and
 * leaves in order. A peer that lets that queue pass its bound (two messages
 * of the largest size) has stopped reading; its connection is closed with a
 * warning and the send returns 0.
 */
#ifndef DRUX_VANTREL_MESSAGE_AGENT_H
#define DRUX_VANTREL_MESSAGE_AGENT_H

#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

typedef struct VantrelMessageAgent* VantrelMessageAgentHandle;

VANTREL_API int32_t VantrelMessageAgent_Create(VantrelMessageAgentHandle* agent);
VANTREL_API int32_t VantrelMessageAgent_SetMessageArrivedCallback(VantrelMessageAgentHandle agent, void* userData,
                                                                  VantrelMessageArrivedCallback callback);
VANTREL_API int32_t VantrelMessageAgent_Start(VantrelMessageAgentHandle agent, VantrelSocket socket);
VANTREL_API int32_t VantrelMessageAgent_SendMessage(VantrelMessageAgentHandle agent, int32_t messageType,
                                                    const char* payload);
VANTREL_API int32_t VantrelMessageAgent_SetHeartbeatActive(VantrelMessageAgentHandle agent, int32_t active);
VANTREL_API int32_t VantrelMessageAgent_GetHeartbeatActive(VantrelMessageAgentHandle agent, int32_t* active);
VANTREL_API int32_t VantrelMessageAgent_GetIsRunning(VantrelMessageAgentHandle agent, int32_t* running);
/* Stops the agent, lets its queue drain, ends its sending side (the peer sees the end), ends its threads and
 * stores NULL in *agent. */
VANTREL_API int32_t VantrelMessageAgent_Delete(VantrelMessageAgentHandle* agent);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_MESSAGE_AGENT_H */
