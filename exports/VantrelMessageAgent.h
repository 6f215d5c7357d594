/*
 * DruxLauncher: the message agent, which serves one connected socket with a
 * reading thread (automatic replies, message-arrived callback) and a heartbeat
 * thread (a heartbeat every 25 seconds while the heartbeat flag is 1).
 * Compiles as C and as C++.
 *
 * Calling order: Create; SetMessageArrivedCallback; Start on a connected socket;
 * SendMessage from any thread; the socket's owner closes the socket; Delete.
 *
 * The socket handed to Start stays the host's: the agent works on its own
 * duplicate of it and closes that itself once its threads have ended. On
 * Windows the duplicate is made non-blocking; on POSIX the two handles share
 * their settings, so the agent leaves the blocking mode alone and sets a
 * receive time-out of 20 ms (SO_RCVTIMEO) instead. From the start
 * on, the host neither reads from nor writes to its handle. It may shut the
 * connection down (the agent then sees it end) and close its handle at any
 * time, before or after Delete: Delete returns promptly either way, and the
 * agent never touches the host's descriptor number, so a new socket that
 * reuses that number is not read by the old agent.
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
/* Stops the agent's threads (the owner closes the socket first) and stores NULL in *agent. */
VANTREL_API int32_t VantrelMessageAgent_Delete(VantrelMessageAgentHandle* agent);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_MESSAGE_AGENT_H */
