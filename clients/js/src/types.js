// The message types of the wire, in number order: the library's own table
// (core/enum_names.cpp) without the common prefix. A test checks the two
// against each other.
export const MESSAGE_TYPE_NAMES = Object.freeze([
    'GAMECLIENT_CREATE',
    'GAMECLIENT_STOPPED',
    'GAMECLIENT_CRASHED',
    'CLOSE',
    'HEARTBEAT',
    'REPLY',
    'LAUNCHERCLIENT',
    'GAMECLIENT_ABANDONED',
    'GAMECLIENT_LAUNCHED',
    'GAMECLIENT_VERSION_MISMATCH',
    'GAMECLIENT_CONNECTED_TO_SERVER',
    'CHATMESSAGE_TO_GAME',
    'CHATMESSAGE_FROM_GAME',
    'GAMECLIENT_CREATE_VERSION',
    'GAMECLIENT_INSTALL_VERSION',
    'GAMECLIENT_CANCEL_INSTALL',
    'GAMECLIENT_INSTALL_PROGRESS',
    'GAMECLIENT_INSTALL_PREVIEW',
    'GAMECLIENT_CANCEL_PREVIEW',
    'GAMECLIENT_PREVIEW_PROGRESS',
    'PLAY_REPLAY',
    'GAMECLIENT_UNINSTALL_VERSION',
    'GAMECLIENT_CANCEL_UNINSTALL',
    'GAMECLIENT_UNINSTALL_PROGRESS',
    'GAMECLIENT_UNINSTALL_PREVIEW',
    'GAMECLIENT_CANCEL_UNINSTALL_PREVIEW',
    'GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS',
    'GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS',
    'GAMECLIENT_CREATE_CLIENT_AND_PRELOAD',
    'GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS',
    'GAMECLIENT_INITIAL_PRELOAD_COMPLETE',
    'GAMECLIENT_UPDATE_PLAYER_CONNECTION',
    'GAMECLIENT_PLAY_PRELOADED_GAME',
    'GAMECLIENT_GAME_LOADING_COMPLETE',
    'KILL_GAMECLIENT_PROCESS',
    'GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS',
    'GAMECLIENT_ENUMERATE_LATEST_VERSIONS',
    'GAMECLIENT_INSTALLED_GAME_VERSION_SIZE',
]);

export const TYPE_PREFIX = 'VANTRELMESSAGETYPE_';

// Stands for a received header that failed validation; never sent.
export const INVALID = 38;

// Name -> number, e.g. MessageType.CHATMESSAGE_TO_GAME === 11.
export const MessageType = Object.freeze(
    Object.fromEntries([...MESSAGE_TYPE_NAMES.map((name, number) => [name, number]), ['INVALID', INVALID]]),
);

// The short name of a type number ("CHATMESSAGE_TO_GAME"); "INVALID" for 38
// and anything unknown, as the library names them.
export function typeName(type) {
    return MESSAGE_TYPE_NAMES[type] ?? 'INVALID';
}

// A type number from a number or a name, with or without the prefix.
export function typeNumber(typeOrName) {
    if (typeof typeOrName === 'number') return typeOrName;
    const name = String(typeOrName).toUpperCase().replace(TYPE_PREFIX, '');
    const number = MessageType[name];
    if (number === undefined) throw new TypeError(`unknown message type ${JSON.stringify(typeOrName)}`);
    return number;
}
