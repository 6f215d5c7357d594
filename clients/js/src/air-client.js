// The AIR client's side of the launcher's AIR port: its requests as methods,
// the launcher's messages as events. See docs/protocol.md for what each one
// means on the launcher's side.
import { EventEmitter } from 'node:events';

import { Connection } from './connection.js';
import { MessageType as T } from './types.js';

const GAME_STATES = new Map([
    [T.GAMECLIENT_LAUNCHED, 'launched'],
    [T.GAMECLIENT_CONNECTED_TO_SERVER, 'connected'],
    [T.GAMECLIENT_STOPPED, 'stopped'],
    [T.GAMECLIENT_CRASHED, 'crashed'],
    [T.GAMECLIENT_ABANDONED, 'abandoned'],
    [T.GAMECLIENT_VERSION_MISMATCH, 'versionMismatch'],
    [T.GAMECLIENT_INITIAL_PRELOAD_COMPLETE, 'preloadComplete'],
    [T.GAMECLIENT_GAME_LOADING_COMPLETE, 'loadingComplete'],
]);

// The patch operations: the command that starts one, its cancel, and the
// request (answered with the same type) that reports its progress.
const OPERATIONS = {
    install: { start: T.GAMECLIENT_INSTALL_VERSION, cancel: T.GAMECLIENT_CANCEL_INSTALL, progress: T.GAMECLIENT_INSTALL_PROGRESS },
    uninstall: { start: T.GAMECLIENT_UNINSTALL_VERSION, cancel: T.GAMECLIENT_CANCEL_UNINSTALL, progress: T.GAMECLIENT_UNINSTALL_PROGRESS },
    preview: { start: T.GAMECLIENT_INSTALL_PREVIEW, cancel: T.GAMECLIENT_CANCEL_PREVIEW, progress: T.GAMECLIENT_PREVIEW_PROGRESS },
    previewUninstall: {
        start: T.GAMECLIENT_UNINSTALL_PREVIEW,
        cancel: T.GAMECLIENT_CANCEL_UNINSTALL_PREVIEW,
        progress: T.GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS,
    },
};
const PROGRESS_KIND = new Map(Object.entries(OPERATIONS).map(([kind, o]) => [o.progress, kind]));
const VERSION_LISTS = new Map([
    [T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS, 'latestVersions'],
    [T.GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS, 'installedVersions'],
    [T.GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS, 'uninstallableVersions'],
    [T.GAMECLIENT_INSTALLED_GAME_VERSION_SIZE, 'installedSize'],
]);
const FINISHED = new Set(['complete', 'cancelled', 'failed', 'idle']);

// The AIR port of the launcher's command line for its AIR client
// ("-runtime .\ -nodebug META-INF\AIR\application.xml .\ -- <port>[ extra]"):
// the number after "--", and the words after it.
export function airPortFromArguments(args) {
    const at = args.indexOf('--');
    const port = at >= 0 ? Number(args[at + 1]) : NaN;
    if (!Number.isInteger(port) || port < 1 || port > 65535) {
        throw new RangeError('no AIR port: the command line needs "-- <port>"');
    }
    return { port, extra: args.slice(at + 2) };
}

// The parsed JSON of a patch library text, or null when it is not JSON (an
// empty progress text means the launcher has no patch support).
export function parseJson(text) {
    try {
        return text ? JSON.parse(text) : null;
    } catch {
        return null;
    }
}

// Events:
//   'game'        (state, payload)   state: launched, connected, stopped, crashed, abandoned,
//                                    versionMismatch, preloadComplete, loadingComplete
//   'chat'        (text)             a chat line from the game
//   'progress'    (kind, progress)   kind: install, uninstall, preview, previewUninstall; progress is
//                                    the patch library's object, or { state: 'unavailable' }
//   'versions'    (which, list)      which: latestVersions, installedVersions, uninstallableVersions,
//                                    installedSize
//   'preloadText' (type, text)       the credentials (29) or play (32) text the launcher broadcasts
//   'playerConnection' (payload)
//   'closeRequested' ()              the launcher sent CLOSE (answered with CLOSE unless answerClose is false)
//   'message'     ({ type, name, payload })  every message but REPLYs
//   'end'         ({ reason })       once: 'closed' (close()), 'closed by the launcher', or 'lost: <why>'
export class AirClient extends EventEmitter {
    static async connect(port, options = {}) {
        const connection = await Connection.connect(port, options);
        return new AirClient(connection, { ...options, port });
    }

    constructor(connection, { port, answerClose = true, answerTimeoutMs = 30_000, progressIntervalMs = 200, ...rest } = {}) {
        super();
        this.connection = connection;
        this.port = port;
        this.options = { answerClose, answerTimeoutMs, progressIntervalMs, connection: rest };
        this.waiters = new Map(); // type -> [resolve]
        this.side = null;
        this.ended = null;
        this.closing = false;
        connection.on('message', (message) => this.onMessage(message));
        connection.on('close', ({ reason }) => {
            if (this.closing) this.end(this.ended ?? 'closed');
            else this.end(`lost: ${reason === 'peer' ? 'the launcher closed the connection' : reason}`);
        });
    }

    onMessage({ type, name, payload }) {
        if (type === T.REPLY) return;
        this.emit('message', { type, name, payload });
        // Answers carry no request id: the oldest request of this type takes the next answer.
        this.waiters.get(type)?.shift()?.(payload);
        if (GAME_STATES.has(type)) this.emit('game', GAME_STATES.get(type), payload);
        else if (type === T.CHATMESSAGE_FROM_GAME) this.emit('chat', payload ?? '');
        else if (PROGRESS_KIND.has(type)) this.emit('progress', PROGRESS_KIND.get(type), parseJson(payload) ?? { state: 'unavailable' });
        else if (VERSION_LISTS.has(type)) this.emit('versions', VERSION_LISTS.get(type), parseJson(payload) ?? []);
        else if (type === T.GAMECLIENT_UPDATE_PLAYER_CONNECTION) this.emit('playerConnection', payload);
        else if (type === T.GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS || type === T.GAMECLIENT_PLAY_PRELOADED_GAME) {
            this.emit('preloadText', type, payload);
        } else if (type === T.CLOSE) {
            this.emit('closeRequested');
            if (this.options.answerClose) this.close('closed by the launcher').catch(() => {});
        }
    }

    end(reason) {
        if (this.endEmitted) return;
        this.endEmitted = true;
        this.ended = reason;
        this.side?.close();
        this.emit('end', { reason });
    }

    // Resolves with the payload of the next message of this type that arrives
    // after `request` was sent.
    answer(type, request) {
        return new Promise((resolve, reject) => {
            const list = this.waiters.get(type) ?? [];
            this.waiters.set(type, list);
            const timer = setTimeout(() => {
                list.splice(list.indexOf(done), 1);
                reject(new Error(`no answer of type ${type} within ${this.options.answerTimeoutMs} ms`));
            }, this.options.answerTimeoutMs);
            const done = (payload) => {
                clearTimeout(timer);
                resolve(payload);
            };
            list.push(done);
            request().catch((error) => {
                clearTimeout(timer);
                list.splice(list.indexOf(done), 1);
                reject(error);
            });
        });
    }

    send(type, payload) {
        return this.connection.send(type, payload);
    }

    // The game: started with the default game or a version's (through the patch library).
    createGame(args) {
        return this.send(T.GAMECLIENT_CREATE, args || null);
    }
    createVersion(version, args) {
        return this.send(T.GAMECLIENT_CREATE_VERSION, args ? `${version} ${args}` : version);
    }
    chat(text) {
        return this.send(T.CHATMESSAGE_TO_GAME, text);
    }
    killGame() {
        return this.send(T.KILL_GAMECLIENT_PROCESS);
    }
    preload(payload) {
        return this.send(T.GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, payload || null);
    }
    sendCredentials(payload) {
        return this.send(T.GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, payload || null);
    }
    playPreloaded() {
        return this.send(T.GAMECLIENT_PLAY_PRELOADED_GAME);
    }

    // The patch library's lists: arrays of version texts (the size: [{ version, bytes }]).
    async enumerateLatest(request = 'all') {
        const type = T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS;
        return parseJson(await this.answer(type, () => this.send(type, String(request)))) ?? [];
    }
    async enumerateInstalled() {
        const type = T.GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS;
        return parseJson(await this.answer(type, () => this.send(type))) ?? [];
    }
    async enumerateUninstallable() {
        const type = T.GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS;
        return parseJson(await this.answer(type, () => this.send(type))) ?? [];
    }
    async installedSize() {
        const type = T.GAMECLIENT_INSTALLED_GAME_VERSION_SIZE;
        return parseJson(await this.answer(type, () => this.send(type))) ?? [];
    }
    async progress(kind) {
        const type = OPERATIONS[kind].progress;
        return parseJson(await this.answer(type, () => this.send(type))) ?? { state: 'unavailable' };
    }

    install(version, options) {
        return this.operate('install', version, options);
    }
    uninstall(version, options) {
        return this.operate('uninstall', version, options);
    }
    preview(version, options) {
        return this.operate('preview', version, options);
    }
    previewUninstall(version, options) {
        return this.operate('previewUninstall', version, options);
    }

    // The launcher works through one connection's messages in order, and the
    // patch library runs an operation on the thread of the connection that
    // asked for it. So the operation and a progress request behind it go on
    // this connection (that answer comes once the operation has ended), while
    // progress polls during it and cancels go on a side connection of their
    // own. Every answer reaches every AIR connection; they are counted here.
    // Resolves with the final progress object.
    operate(kind, version, { onProgress, intervalMs = this.options.progressIntervalMs } = {}) {
        const { start, progress } = OPERATIONS[kind];
        return new Promise((resolve, reject) => {
            let awaited = 0;
            let last = null;
            let finished = false;
            let poller = null;
            const stop = () => {
                clearInterval(poller);
                this.off('progress', listen);
                this.off('end', lost);
            };
            const listen = (which, value) => {
                if (which !== kind) return;
                awaited -= 1;
                last = value;
                if (FINISHED.has(value.state) || value.state === 'unavailable') finished = true;
                onProgress?.(value);
                if (awaited <= 0 && finished) {
                    stop();
                    resolve(last);
                }
            };
            const lost = ({ reason }) => {
                stop();
                reject(new Error(`the connection ended during the ${kind}: ${reason}`));
            };
            this.on('progress', listen);
            this.on('end', lost);
            awaited += 1;
            this.send(start, version)
                .then(() => this.send(progress))
                .catch((error) => {
                    stop();
                    reject(error);
                });
            poller = setInterval(() => {
                if (finished || awaited > 2) return;
                awaited += 1;
                this.sideSend(progress).catch(() => {
                    awaited -= 1;
                });
            }, intervalMs);
        });
    }

    cancel(kind) {
        return this.sideSend(OPERATIONS[kind].cancel);
    }

    async sideSend(type, payload) {
        if (!this.side || !this.side.isOpen) {
            this.side = await Connection.connect(this.port, this.options.connection);
            this.side.on('error', () => {});
        }
        return this.side.send(type, payload);
    }

    // Closes the run: CLOSE to the launcher (which closes the game and ends
    // the run), then the connection ends once the REPLY came (or after 5 s).
    async close(reason = 'closed') {
        if (this.closing) return;
        this.closing = true;
        this.ended = reason;
        if (this.connection.isOpen) {
            const replied = this.send(T.CLOSE).catch(() => {});
            let timer;
            await Promise.race([replied, new Promise((r) => (timer = setTimeout(r, 5000)))]);
            clearTimeout(timer);
        }
        this.side?.close();
        this.connection.close();
        this.end(reason);
    }
}
