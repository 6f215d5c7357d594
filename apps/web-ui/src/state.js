// What the page shows, kept by the program and sent whole to every page on
// each change (a few kilobytes at most).
import { EventEmitter } from 'node:events';

const CHAT_LINES = 200;
const ERRORS = 5;

export class UiState extends EventEmitter {
    constructor() {
        super();
        this.value = {
            connection: 'connecting', // connected, closing, closed, lost
            game: 'none', // starting, launched, connected, stopped, crashed, abandoned, versionMismatch, ...
            gameDetail: null, // CRASHED's payload: the game's folder
            gameVersion: null, // what the page last started
            chat: [], // { from: 'you' | 'game', text, time }
            latest: [],
            installed: [],
            operation: null, // { kind, version, state, percent, reason }
            errors: [], // { time, text }
        };
        this.scheduled = false;
    }

    update(change) {
        Object.assign(this.value, change);
        this.changed();
    }

    chat(from, text) {
        this.value.chat = [...this.value.chat, { from, text, time: Date.now() }].slice(-CHAT_LINES);
        this.changed();
    }

    error(text) {
        this.value.errors = [...this.value.errors, { time: Date.now(), text }].slice(-ERRORS);
        this.changed();
    }

    // Changes within one turn of the event loop go out as one.
    changed() {
        if (this.scheduled) return;
        this.scheduled = true;
        setImmediate(() => {
            this.scheduled = false;
            this.emit('change', this.value);
        });
    }
}
