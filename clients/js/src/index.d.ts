// Type declarations of drux-client (plain JavaScript, no build step).
import { EventEmitter } from 'node:events';
import { Socket } from 'node:net';

export type MessageTypeName =
    | 'GAMECLIENT_CREATE' | 'GAMECLIENT_STOPPED' | 'GAMECLIENT_CRASHED' | 'CLOSE' | 'HEARTBEAT' | 'REPLY'
    | 'LAUNCHERCLIENT' | 'GAMECLIENT_ABANDONED' | 'GAMECLIENT_LAUNCHED' | 'GAMECLIENT_VERSION_MISMATCH'
    | 'GAMECLIENT_CONNECTED_TO_SERVER' | 'CHATMESSAGE_TO_GAME' | 'CHATMESSAGE_FROM_GAME'
    | 'GAMECLIENT_CREATE_VERSION' | 'GAMECLIENT_INSTALL_VERSION' | 'GAMECLIENT_CANCEL_INSTALL'
    | 'GAMECLIENT_INSTALL_PROGRESS' | 'GAMECLIENT_INSTALL_PREVIEW' | 'GAMECLIENT_CANCEL_PREVIEW'
    | 'GAMECLIENT_PREVIEW_PROGRESS' | 'PLAY_REPLAY' | 'GAMECLIENT_UNINSTALL_VERSION' | 'GAMECLIENT_CANCEL_UNINSTALL'
    | 'GAMECLIENT_UNINSTALL_PROGRESS' | 'GAMECLIENT_UNINSTALL_PREVIEW' | 'GAMECLIENT_CANCEL_UNINSTALL_PREVIEW'
    | 'GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS' | 'GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS'
    | 'GAMECLIENT_CREATE_CLIENT_AND_PRELOAD' | 'GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS'
    | 'GAMECLIENT_INITIAL_PRELOAD_COMPLETE' | 'GAMECLIENT_UPDATE_PLAYER_CONNECTION' | 'GAMECLIENT_PLAY_PRELOADED_GAME'
    | 'GAMECLIENT_GAME_LOADING_COMPLETE' | 'KILL_GAMECLIENT_PROCESS' | 'GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS'
    | 'GAMECLIENT_ENUMERATE_LATEST_VERSIONS' | 'GAMECLIENT_INSTALLED_GAME_VERSION_SIZE';

/** The 38 real types in number order, without the prefix. */
export const MESSAGE_TYPE_NAMES: readonly MessageTypeName[];
export const TYPE_PREFIX: 'VANTRELMESSAGETYPE_';
/** 38: a received header that failed validation. Never sent. */
export const INVALID: 38;
export const MessageType: Readonly<Record<MessageTypeName | 'INVALID', number>>;
export function typeName(type: number): MessageTypeName | 'INVALID';
/** A number from a number or a name, with or without the prefix, in any case. */
export function typeNumber(typeOrName: number | string): number;

export const HEADER_SIZE: 16;
export const VERSION: 1;
export const MAX_PAYLOAD_BYTES: 16777216;
export type Payload = string | Uint8Array | null | undefined;
/** The bytes of one message; throws RangeError for a payload over the limit or holding a zero byte. */
export function encodeMessage(type: number, payload?: Payload): Buffer;
export function validatedType(headerSize: number, version: number, type: number): number;
export function isAnswered(type: number): boolean;

export interface RawHeader {
    headerSize: number;
    version: number;
    type: number;
    payloadLength: number;
}
export interface DecodedMessage {
    /** The delivered type: the header's own, or 38 when the header failed validation. */
    type: number;
    /** UTF-8 text cut at a zero byte, or null when the header announced no payload. */
    payload: string | null;
    answered: boolean;
    header: RawHeader;
}
export class Decoder {
    /** Set to the reason once a header announced more than the limit; later bytes are ignored. */
    readonly closed: string | null;
    /** Bytes held for an unfinished message (besides a header already read). */
    readonly buffered: number;
    push(chunk: Uint8Array): DecodedMessage[];
}

export const HEARTBEAT_INTERVAL_MS: 25000;
export const SILENCE_LIMIT_MS: 150000;

export interface ConnectionOptions {
    host?: string;
    heartbeatMs?: number;
    silenceMs?: number;
}
export interface Message {
    type: number;
    name: MessageTypeName | 'INVALID';
    payload: string | null;
}
export type CloseReason = 'local' | 'peer' | 'silent' | 'oversized' | 'error';

export class ConnectionClosedError extends Error {
    readonly reason: CloseReason;
}

export class Connection extends EventEmitter {
    static connect(port: number, options?: ConnectionOptions): Promise<Connection>;
    constructor(socket: Socket, options?: ConnectionOptions);
    readonly isOpen: boolean;
    /** Resolves when the peer's REPLY arrives; rejects with ConnectionClosedError if the connection ends first. */
    send(type: number | string, payload?: Payload): Promise<void>;
    close(): void;
    on(event: 'message', listener: (message: Message) => void): this;
    on(event: 'silent', listener: () => void): this;
    on(event: 'close', listener: (info: { reason: CloseReason; error?: Error }) => void): this;
    on(event: string | symbol, listener: (...args: any[]) => void): this;
}

export type GameState =
    | 'launched' | 'connected' | 'stopped' | 'crashed' | 'abandoned' | 'versionMismatch' | 'preloadComplete'
    | 'loadingComplete';
export type OperationKind = 'install' | 'uninstall' | 'preview' | 'previewUninstall';
/** The sample patch library's progress object; other patch libraries may write other JSON. */
export interface Progress {
    operation?: string;
    version?: string;
    state: 'idle' | 'running' | 'complete' | 'cancelled' | 'failed' | 'unavailable' | string;
    percent?: number;
    bytes?: number;
    reason?: string;
    [key: string]: unknown;
}
export type VersionListName = 'latestVersions' | 'installedVersions' | 'uninstallableVersions' | 'installedSize';

export interface AirClientOptions extends ConnectionOptions {
    /** Answer the launcher's CLOSE with CLOSE and end, as the stand-in does (default true). */
    answerClose?: boolean;
    answerTimeoutMs?: number;
    progressIntervalMs?: number;
}

export function airPortFromArguments(args: readonly string[]): { port: number; extra: string[] };
export function parseJson(text: string | null): any;

export class AirClient extends EventEmitter {
    static connect(port: number, options?: AirClientOptions): Promise<AirClient>;
    readonly connection: Connection;
    createGame(args?: string): Promise<void>;
    createVersion(version: string, args?: string): Promise<void>;
    chat(text: string): Promise<void>;
    killGame(): Promise<void>;
    preload(payload?: string): Promise<void>;
    sendCredentials(payload?: string): Promise<void>;
    playPreloaded(): Promise<void>;
    /** request: "all" or a count N of the newest. */
    enumerateLatest(request?: string | number): Promise<string[]>;
    enumerateInstalled(): Promise<string[]>;
    enumerateUninstallable(): Promise<string[]>;
    installedSize(): Promise<Array<{ version: string; bytes: number }>>;
    progress(kind: OperationKind): Promise<Progress>;
    install(version: string, options?: { onProgress?: (p: Progress) => void; intervalMs?: number }): Promise<Progress>;
    uninstall(version: string, options?: { onProgress?: (p: Progress) => void; intervalMs?: number }): Promise<Progress>;
    preview(version: string, options?: { onProgress?: (p: Progress) => void; intervalMs?: number }): Promise<Progress>;
    previewUninstall(version: string, options?: { onProgress?: (p: Progress) => void; intervalMs?: number }): Promise<Progress>;
    cancel(kind: OperationKind): Promise<void>;
    send(type: number | string, payload?: Payload): Promise<void>;
    /** CLOSE to the launcher, then the connection ends. */
    close(reason?: string): Promise<void>;
    on(event: 'game', listener: (state: GameState, payload: string | null) => void): this;
    on(event: 'chat', listener: (text: string) => void): this;
    on(event: 'progress', listener: (kind: OperationKind, progress: Progress) => void): this;
    on(event: 'versions', listener: (which: VersionListName, list: any[]) => void): this;
    on(event: 'preloadText', listener: (type: number, text: string | null) => void): this;
    on(event: 'playerConnection', listener: (payload: string | null) => void): this;
    on(event: 'closeRequested', listener: () => void): this;
    on(event: 'message', listener: (message: Message) => void): this;
    on(event: 'end', listener: (info: { reason: string }) => void): this;
    on(event: string | symbol, listener: (...args: any[]) => void): this;
}
