/*
 * DruxLauncher: types shared by every exported family.
 * Compiles as C and as C++.
 */
#ifndef DRUX_VANTREL_TYPES_H
#define DRUX_VANTREL_TYPES_H

#include <stdint.h>

/*
 * VANTREL_API marks the library's exports: exported while the library itself
 * is built (its layers are compiled with DRUX_BUILDING_LIBRARY), imported by
 * everyone who uses DruxLauncher.dll. On ELF systems both are default
 * visibility; the version script keeps everything else inside.
 * VANTREL_PATCHER_EXPORT marks the entry points of a patch library, so that a
 * patch library leaves everything else unexported too.
 */
#if defined(_WIN32)
#  include <basetsd.h>
#  if defined(DRUX_BUILDING_LIBRARY)
#    define VANTREL_API __declspec(dllexport)
#  else
#    define VANTREL_API __declspec(dllimport)
#  endif
#  define VANTREL_PATCHER_EXPORT __declspec(dllexport)
/* A Windows Sockets handle (SOCKET). */
typedef UINT_PTR VantrelSocket;
#else
#  define VANTREL_API __attribute__((visibility("default")))
#  define VANTREL_PATCHER_EXPORT __attribute__((visibility("default")))
/* A socket's file descriptor. */
typedef int VantrelSocket;
#endif

#ifdef __cplusplus
#  define VANTREL_EXTERN_C_BEGIN extern "C" {
#  define VANTREL_EXTERN_C_END }
#else
#  define VANTREL_EXTERN_C_BEGIN
#  define VANTREL_EXTERN_C_END
#endif

/* Message types: the value travels in the wire header as a signed 32-bit number. */
typedef enum VantrelMessageType {
    VANTRELMESSAGETYPE_GAMECLIENT_CREATE = 0,
    VANTRELMESSAGETYPE_GAMECLIENT_STOPPED = 1,
    VANTRELMESSAGETYPE_GAMECLIENT_CRASHED = 2,
    VANTRELMESSAGETYPE_CLOSE = 3,
    VANTRELMESSAGETYPE_HEARTBEAT = 4,
    VANTRELMESSAGETYPE_REPLY = 5,
    VANTRELMESSAGETYPE_LAUNCHERCLIENT = 6,
    VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED = 7,
    VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED = 8,
    VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH = 9,
    VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER = 10,
    VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME = 11,
    VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME = 12,
    VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION = 13,
    VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION = 14,
    VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_INSTALL = 15,
    VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PROGRESS = 16,
    VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PREVIEW = 17,
    VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_PREVIEW = 18,
    VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_PROGRESS = 19,
    VANTRELMESSAGETYPE_PLAY_REPLAY = 20,
    VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_VERSION = 21,
    VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL = 22,
    VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PROGRESS = 23,
    VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PREVIEW = 24,
    VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL_PREVIEW = 25,
    VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS = 26,
    VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS = 27,
    VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD = 28,
    VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS = 29,
    VANTRELMESSAGETYPE_GAMECLIENT_INITIAL_PRELOAD_COMPLETE = 30,
    VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PLAYER_CONNECTION = 31,
    VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME = 32,
    VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE = 33,
    VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS = 34,
    VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS = 35,
    VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS = 36,
    VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE = 37,
    VANTRELMESSAGETYPE_INVALID = 38
} VantrelMessageType;

/* Error types reported to the launcher host's error callback. */
typedef enum VantrelErrorType {
    VANTRELERRORTYPE_GAMEPROCESSSTART = 0,
    VANTRELERRORTYPE_AIRPROCESSSTART = 1,
    VANTRELERRORTYPE_GAMECOMMSTART = 2,
    VANTRELERRORTYPE_AIRCOMMSTART = 3,
    VANTRELERRORTYPE_GAMEHEARTBEAT = 4,
    VANTRELERRORTYPE_AIRHEARTBEAT = 5,
    VANTRELERRORTYPE_COMMUNICATIONSTART = 6,
    VANTRELERRORTYPE_GENERIC = 7,
    VANTRELERRORTYPE_INVALID = 8
} VantrelErrorType;

/* The three cooperating programs. */
typedef enum VantrelProcessType {
    VANTRELPROCESSTYPE_AIR = 0,
    VANTRELPROCESSTYPE_GAME = 1,
    VANTRELPROCESSTYPE_LAUNCHER = 2
} VantrelProcessType;

/* The 16-byte wire header; every field is little-endian on the wire. */
typedef struct VantrelMessageHeader {
    int32_t headerSize;    /* always 16 */
    int32_t version;       /* always 1 */
    int32_t type;          /* a VantrelMessageType */
    int32_t payloadLength; /* bytes of text that follow; 0 when none */
} VantrelMessageHeader;

/*
 * Receives each message that arrives on a connection, on that connection's
 * reading thread. payload is NUL-terminated text owned by the library and valid
 * only during the call, or NULL when the message carried none. The result is ignored.
 */
typedef int32_t (*VantrelMessageArrivedCallback)(void* userData, int32_t messageType, const char* payload);

/* Called with its registered context when a run ends. */
typedef void (*VantrelExitCallback)(void* context);

#endif /* DRUX_VANTREL_TYPES_H */
