// The WebSocket to the PC: one per page, reconnecting by itself with growing
// pauses. The token never travels: the PC sends a fresh challenge first and
// the page answers with an HMAC of it keyed by the token; only once the PC
// says "paired" does the page count as connected. A refusal (wrong or revoked
// token) is told apart from an unreachable PC so that the page can ask for
// pairing instead of hammering the server in a loop.
// With the answer go the page's random value and the handshake's version;
// from then on every message in both directions is a sealed binary frame
// (seal.js), "paired" included, so only a PC that holds the token gets the
// page connected. The page never falls back to a channel in clear.

import { challengeAnswer, toHex } from './hmac.js';
import { encode, parseMessage } from './protocol.js';
import { deriveKey, fromHex, randomBytes, RANDOM_BYTES, Seal, TO_PC, VERSION } from './seal.js';

export const State = Object.freeze({
    UNPAIRED: 'unpaired', // no token known
    CONNECTING: 'connecting',
    CONNECTED: 'connected',
    WAITING: 'waiting', // lost or unreachable; a retry is scheduled
    REFUSED: 'refused', // the server turned the token down
    REPLACED: 'replaced', // another phone took over; waits until the user asks
    OUTDATED: 'outdated', // page and PC speak different versions; detail.reload: the page is the old one
});

// Close codes a server uses to say "not you": policy violation and the
// application range's unauthorised/forbidden.
const REFUSAL_CODES = new Set([1008, 4001, 4003, 4401, 4403]);
// The PC serves one phone at a time and dropped this one for a newer one.
// Reconnecting by itself would take the PC back and start a tug of war.
export const REPLACED_CODE = 4409;
// The PC speaks a newer handshake than this page: the page must be reloaded.
export const OUTDATED_CODE = 4426;
// A sealed frame did not open (either side may close with it): a new session
// with a new key is the way on.
export const BAD_SEAL_CODE = 4400;

export function wsUrl(location) {
    const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
    return `${scheme}://${location.host}/ws`;
}

export class Backoff {
    constructor({ initial = 500, max = 10000, factor = 2 } = {}) {
        this.initial = initial;
        this.max = max;
        this.factor = factor;
        this.current = initial;
    }

    next() {
        const delay = this.current;
        this.current = Math.min(this.current * this.factor, this.max);
        return delay;
    }

    reset() {
        this.current = this.initial;
    }
}

// opened: the socket reached "open"; reachable: the page's own server answered
// a plain request after the failure. Browsers hide the HTTP status of a failed
// upgrade, so a server that answers HTTP but not the upgrade is taken as a
// refusal.
export function classifyClose({ opened, code, reachable }) {
    if (REFUSAL_CODES.has(code)) return 'refused';
    if (!opened && reachable) return 'refused';
    return 'retry';
}

// A connection that held this long counts as working: the next loss starts
// the back-off from the beginning again.
export const STABLE_MS = 3000;
// Outgoing bytes the socket may hold before pointer moves are held back.
export const MAX_BUFFERED = 16 * 1024;
// While the page is visible it pings the PC this often (sealed, like everything
// else) and takes a link it has heard nothing on for DEAD_MS as dead: TCP alone
// would keep a silent link "open" for minutes and deliver what was sent into it
// long after the user made it.
export const HEARTBEAT_MS = 1000;
export const DEAD_MS = 3000;
// A connection not paired by then is given up: one to an address that has gone
// would otherwise hang until the browser's own connect timeout, minutes later.
export const CONNECT_MS = 5000;
// An attempt nothing has answered by then (not even the socket's opening) is
// replaced by a fresh one at once: while the network drops everything, the
// system resends an attempt's first packet only after 1, 2, 4 s..., so the page
// would notice the network back seconds late. A fresh attempt every 1.5 s is
// never more than a second behind. Two round trips open the socket; a link
// slower than that fails the heartbeat anyway.
export const OPEN_MS = 1500;

export class Connection {
    // env: {createSocket(url), probe() → Promise<boolean>, setTimeout,
    //       clearTimeout, now(), location, [answer(token, challenge) → Promise<hex>],
    //       [deriveKey(token, pcRandom, pageRandom) → Promise<key>], [randomBytes(n)], [nacl]}
    constructor(env, { onState = () => {}, onMessage = () => {}, onOpen = () => {} } = {}) {
        this.env = env;
        this.onState = onState;
        this.onMessage = onMessage;
        this.onOpen = onOpen;
        this.backoff = new Backoff();
        this.socket = null;
        this.token = null;
        this.timer = null;
        this.state = State.UNPAIRED;
        this.retryAt = null;
        this.generation = 0; // ignores events of sockets already given up
        this.seal = null; // the session's, once "paired" opened
        this.heardAt = 0; // when the current session last heard from the PC
        this.pingSeq = 0;
        this.heartbeatTimer = null;
        this.watched = false; // the PC answers pings (it said so in "paired")
        this.probing = false;
    }

    setState(state, detail = {}) {
        this.state = state;
        this.onState(state, detail);
    }

    // Starts (or restarts) with a token; null means "no pairing".
    start(token) {
        this.stop();
        this.token = token;
        this.backoff.reset();
        if (!token) {
            this.setState(State.UNPAIRED);
            return;
        }
        this.open();
    }

    stop() {
        this.generation += 1;
        if (this.timer !== null) this.env.clearTimeout(this.timer);
        this.timer = null;
        this.retryAt = null;
        this.stopHeartbeat();
        this.seal = null;
        const socket = this.socket;
        this.socket = null;
        if (socket) {
            try {
                socket.close(1000);
            } catch {
                // already closing
            }
        }
    }

    // The user asked: try now, whatever the state (but not twice at once).
    retryNow() {
        if (!this.token) return;
        if (this.state === State.CONNECTED || this.state === State.CONNECTING) return;
        this.stop();
        this.backoff.reset();
        this.open();
    }

    // A hint that the network may work again (page shown, browser online):
    // cuts a scheduled retry short. A refused or replaced page stays put, or
    // merely looking at it again would take the PC back from the other phone.
    resume() {
        if (this.state === State.WAITING) this.retryNow();
        else if (this.state === State.CONNECTED) this.checkAlive();
    }

    // Whether the page is in front; a hidden page neither pings nor judges the
    // link (its timers are throttled), and is checked again once shown.
    visible() {
        return this.env.visible ? this.env.visible() : true;
    }

    heardLately() {
        return !this.watched || this.env.now() - this.heardAt <= DEAD_MS;
    }

    // Only a PC that says it answers pings is pinged: an older one would never
    // answer, and the page would take every link to it for dead. The first ping
    // goes at once: the PC watches a page from its first ping on, and a link
    // lost before it would otherwise never be given up there.
    startHeartbeat() {
        this.stopHeartbeat();
        if (!this.watched) return;
        const generation = this.generation;
        const beat = () => {
            this.heartbeatTimer = null;
            if (generation !== this.generation || this.state !== State.CONNECTED) return;
            if (this.visible()) {
                if (!this.checkAlive()) return;
                this.pingSeq += 1;
                this.send({ command: 'ping', params: { seq: this.pingSeq } });
            }
            this.heartbeatTimer = this.env.setTimeout(beat, HEARTBEAT_MS);
        };
        beat();
    }

    stopHeartbeat() {
        if (this.heartbeatTimer !== null) this.env.clearTimeout(this.heartbeatTimer);
        this.heartbeatTimer = null;
    }

    // A connected link the PC has not answered on for DEAD_MS is given up: from
    // this moment nothing more is sent on it (input made now is dropped by the
    // caller), the socket is closed and a new one opened at once. False then.
    checkAlive() {
        if (this.state !== State.CONNECTED || this.heardLately()) return true;
        this.stop();
        this.open({ reconnecting: true });
        return false;
    }

    open(detail = {}) {
        const generation = this.generation;
        let socket;
        try {
            socket = this.env.createSocket(wsUrl(this.env.location));
        } catch {
            this.scheduleRetry();
            return;
        }
        this.socket = socket;
        socket.binaryType = 'arraybuffer';
        let opened = false;
        let paired = false;
        let answered = false;
        let seal = null;
        let openedAt = 0;
        const token = this.token;
        const answer = this.env.answer ?? challengeAnswer;
        const derive = this.env.deriveKey ?? deriveKey;
        const random = this.env.randomBytes ?? randomBytes;
        this.seal = null;
        this.setState(State.CONNECTING, detail);
        const abandon = (event) => {
            const closed = socket.onclose;
            socket.onclose = null; // this is its close; the browser's own comes later or never
            giveUp(1000);
            closed(event);
        };
        const connectTimer = this.env.setTimeout(() => {
            if (generation !== this.generation || paired) return;
            abandon({ code: 1006 });
        }, CONNECT_MS);
        const openTimer = this.env.setTimeout(() => {
            if (generation !== this.generation || opened) return;
            abandon({ code: 1006, unanswered: true });
        }, OPEN_MS);

        const giveUp = (code) => {
            try {
                socket.close(code);
            } catch {
                // already closing
            }
        };
        const onChallenge = (params) => {
            const pcRandom = params.challenge.length === 2 * RANDOM_BYTES ? fromHex(params.challenge) : null;
            if (params.version !== VERSION || !pcRandom) {
                // An older PC would go on in clear; a newer one has told us so by its version.
                this.generation += 1;
                this.socket = null;
                giveUp(1000);
                this.setState(State.OUTDATED, { reload: Number(params.version) > VERSION });
                return;
            }
            answered = true;
            const pageRandom = random(RANDOM_BYTES);
            Promise.all([answer(token, params.challenge), derive(token, pcRandom, pageRandom)]).then(([hex, key]) => {
                if (generation !== this.generation) return;
                seal = new Seal(key, TO_PC, this.env.nacl);
                try {
                    socket.send(encode({ command: 'answer', params: { answer: hex, nonce: toHex(pageRandom), version: VERSION } }));
                } catch {
                    // closing; the close event decides what comes next
                }
            }, () => giveUp(BAD_SEAL_CODE));
        };
        const onFrame = (data) => {
            const text = seal && typeof data !== 'string' ? seal.open(data) : null;
            const message = text === null ? null : parseMessage(text);
            if (!message) {
                // Tampered, replayed, out of order or in clear: this session is over.
                seal = null;
                this.seal = null;
                giveUp(BAD_SEAL_CODE);
                return;
            }
            if (paired) {
                if (message.command === 'pong') {
                    // The link carried a round trip: it has proven itself. Only a round
                    // trip counts as hearing: the PC's own news may flow while our pings
                    // are lost.
                    this.heardAt = this.env.now();
                    this.backoff.reset();
                    return;
                }
                this.onMessage(message);
            } else if (message.command === 'paired') {
                paired = true;
                this.env.clearTimeout(connectTimer);
                this.heardAt = this.env.now();
                this.seal = seal;
                this.watched = message.params.heartbeat === true;
                openedAt = this.env.now();
                this.setState(State.CONNECTED, { sealed: true });
                this.startHeartbeat();
                this.onOpen(message.params);
            }
        };

        socket.onopen = () => {
            if (generation !== this.generation) return;
            opened = true;
            this.env.clearTimeout(openTimer);
        };
        socket.onmessage = (event) => {
            if (generation !== this.generation) return;
            if (answered) {
                onFrame(event.data);
                return;
            }
            const message = parseMessage(event.data);
            if (message?.command === 'challenge' && typeof message.params.challenge === 'string') onChallenge(message.params);
        };
        socket.onerror = () => {}; // a close event always follows
        socket.onclose = (event) => {
            if (generation !== this.generation) return;
            this.env.clearTimeout(connectTimer);
            this.env.clearTimeout(openTimer);
            this.socket = null;
            this.seal = null;
            this.stopHeartbeat();
            if (paired && this.env.now() - openedAt >= STABLE_MS) this.backoff.reset();
            const code = event?.code ?? 1006;
            if (code === REPLACED_CODE) {
                this.generation += 1;
                this.setState(State.REPLACED);
                return;
            }
            if (code === OUTDATED_CODE) {
                this.generation += 1;
                this.setState(State.OUTDATED, { reload: true });
                return;
            }
            if (REFUSAL_CODES.has(code)) {
                this.refuse();
                return;
            }
            if (opened) {
                this.scheduleRetry();
                return;
            }
            if (event?.unanswered) {
                // Nobody answered, so nobody refused: again at once, while the probe
                // counts this address as silent (enough of those start the search
                // for the PC elsewhere).
                this.probeAside();
                this.generation += 1;
                this.open(detail);
                return;
            }
            // Never got through: find out whether the PC is there at all.
            Promise.resolve(this.env.probe())
                .catch(() => false)
                .then((reachable) => {
                    if (generation !== this.generation) return;
                    if (classifyClose({ opened, code, reachable }) === 'refused') this.refuse();
                    else this.scheduleRetry();
                });
        };
    }

    probeAside() {
        if (this.probing) return;
        this.probing = true;
        Promise.resolve(this.env.probe())
            .catch(() => false)
            .then(() => {
                this.probing = false;
            });
    }

    refuse() {
        this.generation += 1;
        this.setState(State.REFUSED);
    }

    scheduleRetry() {
        const delay = this.backoff.next();
        const generation = this.generation;
        this.retryAt = this.env.now() + delay;
        this.setState(State.WAITING, { delay, retryAt: this.retryAt });
        this.timer = this.env.setTimeout(() => {
            if (generation !== this.generation) return;
            this.timer = null;
            this.retryAt = null;
            this.open();
        }, delay);
    }

    get connected() {
        return this.state === State.CONNECTED && this.socket !== null && this.seal !== null && this.heardLately();
    }

    // Sends one command, sealed; false when it could not go out (not connected).
    send(command) {
        if (!this.connected) return false;
        try {
            this.socket.send(this.seal.seal(encode(command)));
            return true;
        } catch {
            return false;
        }
    }

    // Whether the socket has room for more pointer traffic right now.
    get congested() {
        return this.connected && (this.socket.bufferedAmount ?? 0) > MAX_BUFFERED;
    }
}
