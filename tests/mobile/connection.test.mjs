import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { Backoff, Connection, State, STABLE_MS, classifyClose, wsUrl } from '../../mobile/js/connection.js';
import { mouseMove } from '../../mobile/js/protocol.js';

const TOKEN = '0123456789abcdef0123456789abcdef';

// A scripted environment: sockets and timers are driven by the test.
function harness({ reachable = false } = {}) {
    const env = {
        clock: 0,
        sockets: [],
        timers: [],
        reachable,
        location: { protocol: 'http:', host: '192.168.1.5:6888' },
        createSocket(url) {
            const s = { url, sent: [], bufferedAmount: 0, closed: false, send(t) { this.sent.push(t); }, close() { this.closed = true; } };
            env.sockets.push(s);
            return s;
        },
        probe: () => Promise.resolve(env.reachable),
        setTimeout(fn, ms) {
            env.timers.push({ fn, at: env.clock + ms, ms });
            return env.timers.length;
        },
        clearTimeout(id) {
            if (env.timers[id - 1]) env.timers[id - 1].cancelled = true;
        },
        now: () => env.clock,
        // Runs the next timer that is due.
        runNextTimer() {
            const t = env.timers.find((x) => !x.cancelled && !x.done);
            assert.ok(t, 'a retry should be scheduled');
            t.done = true;
            env.clock = Math.max(env.clock, t.at);
            t.fn();
            return t.ms;
        },
        get last() {
            return env.sockets[env.sockets.length - 1];
        },
    };
    const states = [];
    const messages = [];
    const conn = new Connection(env, { onState: (s) => states.push(s), onMessage: (m) => messages.push(m) });
    return { env, conn, states, messages };
}

const settle = () => new Promise((resolve) => setImmediate(resolve));

describe('connection', () => {
    test('the socket address follows the page, with the token as query', () => {
        assert.equal(wsUrl({ protocol: 'http:', host: 'pc:6888' }, TOKEN), `ws://pc:6888/ws?token=${TOKEN}`);
        assert.equal(wsUrl({ protocol: 'https:', host: 'pc' }, 'a b'), 'wss://pc/ws?token=a%20b');
    });

    test('without a token nothing is opened', () => {
        const { env, conn, states } = harness();
        conn.start(null);
        assert.deepEqual(env.sockets, []);
        assert.deepEqual(states, [State.UNPAIRED]);
    });

    test('an unreachable PC is retried with doubling pauses up to 10 s', async () => {
        const { env, conn } = harness({ reachable: false });
        conn.start(TOKEN);
        const delays = [];
        for (let i = 0; i < 7; i += 1) {
            env.last.onclose({ code: 1006 });
            await settle();
            delays.push(env.runNextTimer());
        }
        assert.deepEqual(delays, [500, 1000, 2000, 4000, 8000, 10000, 10000]);
        assert.equal(env.sockets.length, 8);
    });

    test('a handshake refused while the PC answers HTTP stops retrying', async () => {
        const { env, conn, states } = harness({ reachable: true });
        conn.start(TOKEN);
        env.last.onclose({ code: 1006 });
        await settle();
        assert.equal(conn.state, State.REFUSED);
        assert.equal(env.timers.length, 0);
        assert.deepEqual(states, [State.CONNECTING, State.REFUSED]);

        conn.retryNow(); // the user asks again
        assert.equal(env.sockets.length, 2);
    });

    test('a refusal close code after opening also stops retrying', () => {
        const { env, conn } = harness();
        conn.start(TOKEN);
        env.last.onopen();
        env.last.onclose({ code: 4401 });
        assert.equal(conn.state, State.REFUSED);
        assert.equal(env.timers.length, 0);
        assert.equal(classifyClose({ opened: true, code: 1008, reachable: false }), 'refused');
        assert.equal(classifyClose({ opened: true, code: 1001, reachable: true }), 'retry');
    });

    test('a phone taking over ends the retries until the user asks', () => {
        const { env, conn, states } = harness();
        conn.start(TOKEN);
        env.last.onopen();
        env.last.onclose({ code: 4409 });
        assert.equal(conn.state, State.REPLACED);
        assert.equal(states.at(-1), State.REPLACED);
        assert.equal(env.timers.length, 0);
        conn.retryNow();
        assert.equal(env.sockets.length, 2);
        assert.equal(conn.state, State.CONNECTING);
    });

    test('only a connection that held resets the back-off', () => {
        const { env, conn } = harness();
        conn.start(TOKEN);
        env.last.onopen();
        env.last.onclose({ code: 1001 });
        assert.equal(env.runNextTimer(), 500);
        env.last.onopen(); // accepted, then dropped at once: keep backing off
        env.last.onclose({ code: 1001 });
        assert.equal(env.runNextTimer(), 1000);
        env.last.onopen();
        env.clock += STABLE_MS;
        env.last.onclose({ code: 1006 });
        assert.equal(env.runNextTimer(), 500);
    });

    test('sends only while connected; replies are parsed; old sockets are ignored', () => {
        const { env, conn, messages } = harness();
        conn.start(TOKEN);
        assert.equal(conn.send(mouseMove(1, 1)), false);
        const first = env.last;
        first.onopen();
        assert.equal(conn.send(mouseMove(1, 2)), true);
        assert.deepEqual(first.sent, ['{"command":"mousemove","params":{"dx":1,"dy":2}}']);
        first.onmessage({ data: '{"command":"appexplore","params":{"apps":[]}}' });
        first.onmessage({ data: 'garbage' });
        assert.deepEqual(messages, [{ command: 'appexplore', params: { apps: [] } }]);

        conn.start('ffffffffffffffffffffffffffffffff'); // re-paired
        assert.ok(first.closed);
        first.onclose({ code: 1000 });
        first.onmessage({ data: '{"command":"appexplore","params":{}}' });
        assert.equal(conn.state, State.CONNECTING);
        assert.equal(messages.length, 1);
        assert.ok(env.last.url.endsWith('token=ffffffffffffffffffffffffffffffff'));
    });

    test('a backed-up socket reports congestion', () => {
        const { env, conn } = harness();
        conn.start(TOKEN);
        env.last.onopen();
        assert.equal(conn.congested, false);
        env.last.bufferedAmount = 1 << 20;
        assert.equal(conn.congested, true);
    });

    test('back-off can be reset', () => {
        const b = new Backoff({ initial: 100, max: 250 });
        assert.deepEqual([b.next(), b.next(), b.next()], [100, 200, 250]);
        b.reset();
        assert.equal(b.next(), 100);
    });
});
