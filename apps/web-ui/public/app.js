// The page: the program's state over server-sent events, actions as POSTs.
// Plain JavaScript, no build step. Every request carries the run's token.
const token = new URLSearchParams(location.search).get('token') ?? '';
const $ = (id) => document.getElementById(id);

const GAME_WORDS = {
    none: 'No game is running.',
    starting: 'The launcher is starting the game…',
    launched: 'The game has started and is connecting to its server.',
    connected: 'The game is running and connected to its server.',
    stopped: 'The game has stopped.',
    crashed: 'The game crashed (or was stopped).',
    abandoned: 'The game was abandoned.',
    versionMismatch: 'The game reports a version mismatch with its server.',
    preloadComplete: 'The preloaded game is ready.',
    loadingComplete: 'The game has loaded.',
};
const CONNECTION_WORDS = {
    connecting: 'connecting',
    connected: 'connected',
    closing: 'closing',
    closed: 'closed',
    lost: 'lost',
};

async function act(name, body = {}) {
    const response = await fetch(`/api/${name}?token=${encodeURIComponent(token)}`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body),
    });
    const answer = await response.json().catch(() => ({ ok: false, error: `HTTP ${response.status}` }));
    return answer;
}

function element(tag, text, className) {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = text;
    if (className) node.className = className;
    return node;
}

function button(text, handler, className = 'small') {
    const node = element('button', text, className);
    node.type = 'button';
    node.addEventListener('click', handler);
    return node;
}

let current = null;

function render(state) {
    current = state;
    const open = state.connection === 'connected';
    $('connection').textContent = CONNECTION_WORDS[state.connection] ?? state.connection;
    $('connection').dataset.state = state.connection;
    $('game-state').textContent = state.game;
    $('game-state').dataset.state = state.game;
    $('game-words').textContent = (GAME_WORDS[state.game] ?? state.game) +
        (state.gameVersion && state.game !== 'none' ? ` Started: ${state.gameVersion}.` : '') +
        (state.gameDetail ? ` Its folder: ${state.gameDetail}` : '');

    const log = $('chat-log');
    log.replaceChildren(...state.chat.map((line) => {
        const item = element('li', undefined, line.from);
        item.append(element('span', line.from === 'you' ? 'you' : 'game', 'who'), element('span', line.text, 'text'));
        return item;
    }));
    log.scrollTop = log.scrollHeight;

    const busy = state.operation && (state.operation.state === 'running' || state.operation.state === 'starting');
    $('latest').replaceChildren(...state.latest.map((version) => {
        const item = element('li');
        item.dataset.version = version;
        item.append(element('span', version, 'version'));
        const installed = state.installed.includes(version);
        if (installed) item.append(element('span', 'installed', 'tag'));
        else item.append(button('Install', () => act('install', { version }), 'small install'));
        return item;
    }));
    if (state.latest.length === 0) $('latest').replaceChildren(element('li', 'None listed.', 'none'));
    $('installed').replaceChildren(...state.installed.map((version) => {
        const item = element('li');
        item.dataset.version = version;
        item.append(
            element('span', version, 'version'),
            button('Start', () => act('start-version', { version, args: $('game-args').value }), 'small start'),
            button('Uninstall', () => act('uninstall', { version }), 'small secondary uninstall'),
        );
        return item;
    }));
    if (state.installed.length === 0) $('installed').replaceChildren(element('li', 'None installed.', 'none'));

    const op = state.operation;
    $('operation').hidden = !op;
    if (op) {
        const percent = Math.max(0, Math.min(100, Number(op.percent) || 0));
        $('progress-bar').style.width = `${percent}%`;
        $('progress-bar').setAttribute('aria-valuenow', String(percent));
        $('progress-bar').dataset.state = op.state;
        $('progress-label').textContent = `${op.kind === 'uninstall' ? 'Uninstall' : 'Install'} of ${op.version}: ${op.state}, ${percent} %`;
        $('cancel').disabled = !busy;
    }

    const errors = $('errors');
    errors.replaceChildren(...state.errors.map((e) => element('li', `${new Date(e.time).toLocaleTimeString()} ${e.text}`)));
    if (state.errors.length === 0) errors.replaceChildren(element('li', 'None.', 'none'));

    for (const node of document.querySelectorAll('button, input')) {
        if (node.id !== 'cancel') node.disabled = !open;
    }
    if (!open) document.body.dataset.closed = state.connection;
}

function start() {
    $('start-game-form').addEventListener('submit', (event) => {
        event.preventDefault();
        act('start-game', { args: $('game-args').value });
    });
    $('kill-game').addEventListener('click', () => act('kill-game'));
    $('chat-form').addEventListener('submit', (event) => {
        event.preventDefault();
        const text = $('chat-input').value.trim();
        if (!text) return;
        $('chat-input').value = '';
        act('chat', { text });
    });
    $('refresh').addEventListener('click', () => act('refresh'));
    $('cancel').addEventListener('click', () => act('cancel'));
    $('close').addEventListener('click', () => act('close'));

    const events = new EventSource(`/events?token=${encodeURIComponent(token)}`);
    events.onmessage = (event) => render(JSON.parse(event.data));
    events.onerror = () => {
        if (current && current.connection !== 'connected') events.close();
        else $('connection').textContent = 'page lost the program';
    };
}

start();
