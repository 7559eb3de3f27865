import assert from 'node:assert/strict';
import { test } from 'node:test';

import { createHmac } from 'node:crypto';
import { createRequire } from 'node:module';

import { CONNECT_MS, Connection, DEAD_MS, HEARTBEAT_MS, OPEN_MS, State, STABLE_MS } from '../../mobile/js/connection.js';
import { challengeAnswer } from '../../mobile/js/hmac.js';
import { mouseMove } from '../../mobile/js/protocol.js';
import { deriveKey, fromHex, Seal, TO_PAGE } from '../../mobile/js/seal.js';

const nacl = createRequire(import.meta.url)('/usr/share/nodejs/tweetnacl/nacl-fast.js');

const TOKEN = '0123456789abcdef0123456789abcdef';
// An attempt's own deadlines, apart from the retries.
const deadline = (t) => t.ms === CONNECT_MS || t.ms === OPEN_MS;

// Sockets, timers and the reachability probe are driven by the test.
function harness({ reachable = false } = {}) {
    const env = {
        clock: 0, sockets: [], timers: [], reachable, probes: 0, location: { protocol: 'http:', host: 'pc:6888' },
        createSocket(url) {
            const s = { url, sent: [], closed: false, send(t) { this.sent.push(t); }, close(code) { this.closed = code ?? true; } };
            env.sockets.push(s);
            return s;
        },
        probe: () => {
            env.probes += 1;
            return Promise.resolve(env.reachable);
        },
        // Our own HMAC settles within the microtasks of one turn; Web Crypto may take longer.
        answer: (token, challenge) => challengeAnswer(token, challenge, null),
        deriveKey: (token, pcRandom, pageRandom) => deriveKey(token, pcRandom, pageRandom, null),
        nacl,
        setTimeout: (fn, ms) => env.timers.push({ fn, ms }),
        clearTimeout: (id) => { env.timers[id - 1].cancelled = true; },
        now: () => env.clock,
        // Runs the next pending retry and says how long it waited.
        retry() {
            const t = env.timers.find((x) => !x.cancelled && !x.done && !deadline(x));
            assert.ok(t, 'a retry should be scheduled');
            t.done = true;
            env.clock += t.ms;
            t.fn();
            return t.ms;
        },
        // Retries pending; each attempt's own deadline is not one.
        pending: () => env.timers.filter((x) => !x.cancelled && !x.done && !deadline(x)).length,
        // Runs a deadline of the attempt under way: to be paired, or (`ms` OPEN_MS) to be answered at all.
        timeOut(ms = CONNECT_MS) {
            const t = env.timers.findLast((x) => !x.cancelled && !x.done && x.ms === ms);
            assert.ok(t, 'an attempt should be under way');
            t.done = true;
            env.clock += t.ms;
            t.fn();
        },
        get last() { return env.sockets.at(-1); },
    };
    const states = [];
    const messages = [];
    const conn = new Connection(env, { onState: (s) => states.push(s), onMessage: (m) => messages.push(m) });
    return { env, conn, states, messages };
}
const settle = () => new Promise((resolve) => setImmediate(resolve));
// The PC's side of the opening: the challenge, then (once answered) the sealed
// "paired"; returns the PC's seal of the session.
async function pair(socket, challenge = 'ab'.repeat(32), paired = '{"command":"paired","params":{"version":2}}') {
    socket.onopen();
    socket.onmessage({ data: JSON.stringify({ command: 'challenge', params: { challenge, version: 2 } }) });
    await settle();
    const { params } = JSON.parse(socket.sent.at(-1));
    const pc = new Seal(await deriveKey(TOKEN, fromHex(challenge), fromHex(params.nonce), null), TO_PAGE, nacl);
    socket.onmessage({ data: pc.seal(paired) });
    return pc;
}

test('an unreachable PC is retried with doubling pauses up to 10 s; only a connection that held resets them', async () => {
    const { env, conn } = harness();
    conn.start(TOKEN);
    assert.equal(env.last.url, 'ws://pc:6888/ws');
    const delays = [];
    for (let i = 0; i < 7; i += 1) {
        env.last.onclose({ code: 1006 });
        await settle();
        delays.push(env.retry());
    }
    assert.deepEqual(delays, [500, 1000, 2000, 4000, 8000, 10000, 10000]);
    await pair(env.last); // accepted, then dropped at once: keep backing off
    env.last.onclose({ code: 1001 });
    assert.equal(env.retry(), 10000);
    env.last.onopen(); // open but never paired, however long: no reset
    env.clock += STABLE_MS;
    env.last.onclose({ code: 4408 });
    assert.equal(env.retry(), 10000);
    await pair(env.last);
    env.clock += STABLE_MS;
    env.last.onclose({ code: 1001 });
    assert.equal(env.retry(), 500);
    env.last.onclose({ code: 1006 });
    await settle();
    conn.resume(); // network back: the scheduled retry is cut short
    assert.deepEqual([env.sockets.length, env.pending(), conn.state], [12, 0, State.CONNECTING]);
});

test('a refusal or a takeover stops the retries until the user asks', async () => {
    const cases = [
        ['handshake refused while the PC answers', true, (s) => s.onclose({ code: 1006 }), State.REFUSED],
        ['refusal close code', false, (s) => { s.onopen(); s.onclose({ code: 4401 }); }, State.REFUSED], // a wrong answer
        ['another phone took over', false, (s) => { s.onopen(); s.onclose({ code: 4409 }); }, State.REPLACED],
    ];
    for (const [name, reachable, close, state] of cases) {
        const { env, conn, states } = harness({ reachable });
        conn.start(TOKEN);
        close(env.last);
        await settle();
        assert.equal(conn.state, state, name);
        assert.equal(states.at(-1), state, name);
        assert.equal(env.pending(), 0, name);
        conn.resume(); // page shown again: not a reason to take the PC back
        assert.equal(env.sockets.length, 1, name);
        conn.retryNow();
        assert.equal(env.sockets.length, 2, name);
        assert.equal(conn.state, State.CONNECTING, name);
    }
    const { env, conn, states } = harness();
    conn.start(null);
    assert.deepEqual([env.sockets.length, states], [0, [State.UNPAIRED]]);
});

test('the token never travels, and after the answer everything is sealed both ways', async () => {
    const { env, conn, messages, states } = harness();
    conn.start(TOKEN);
    assert.equal(conn.send(mouseMove(1, 1)), false);
    const first = env.last;
    first.onmessage({ data: '{"command":"appexplore","params":{"apps":[]}}' }); // not before pairing
    const challenge = '0f'.repeat(32);
    const pc = await pair(first, challenge);
    const answer = JSON.parse(first.sent[0]);
    assert.deepEqual(Object.keys(answer.params).sort(), ['answer', 'nonce', 'version']);
    assert.equal(answer.params.answer, createHmac('sha256', TOKEN).update(challenge).digest('hex'));
    assert.match(answer.params.nonce, /^[0-9a-f]{64}$/);
    assert.ok(!first.url.includes(TOKEN) && !first.sent.join('').includes(TOKEN));
    assert.deepEqual([states.at(-1), messages], [State.CONNECTED, []]);

    assert.equal(conn.send(mouseMove(1, 2)), true);
    const frame = first.sent.at(-1);
    assert.ok(frame instanceof Uint8Array && !new TextDecoder().decode(frame).includes('mousemove'));
    assert.equal(pc.open(frame), '{"command":"mousemove","params":{"dx":1,"dy":2}}');
    const reply = pc.seal('{"command":"appexplore","params":{"apps":[]}}');
    first.onmessage({ data: reply.slice().buffer }); // an ArrayBuffer, as a browser hands it over
    assert.deepEqual(messages, [{ command: 'appexplore', params: { apps: [] } }]);
    first.onmessage({ data: reply }); // the same frame again
    assert.equal(first.closed, 4400);
    assert.equal(conn.send(mouseMove(1, 1)), false);
    first.onclose({ code: 4400 });
    assert.deepEqual([conn.state, messages.length, env.pending()], [State.WAITING, 1, 1]);

    // Injected in clear, or sealed by someone without the key: the session ends the same way.
    for (const injected of ['{"command":"paired","params":{}}', new Uint8Array(40)]) {
        env.retry();
        const socket = env.last;
        await pair(socket);
        socket.onmessage({ data: injected });
        assert.equal(socket.closed, 4400);
        socket.onclose({ code: 4400 });
    }

    // A challenge answered late, after the page moved on, is not sent on the old socket.
    conn.start(TOKEN);
    const second = env.last;
    second.onopen();
    second.onmessage({ data: JSON.stringify({ command: 'challenge', params: { challenge, version: 2 } }) });
    conn.start(TOKEN);
    await settle();
    assert.deepEqual(second.sent, []);
});

test('a page and a PC of different versions say so instead of talking in clear', async () => {
    // A PC from before sealing: its challenge has no version, and the page does not answer.
    const { env, conn, states } = harness();
    conn.start(TOKEN);
    env.last.onopen();
    env.last.onmessage({ data: JSON.stringify({ command: 'challenge', params: { challenge: 'ab'.repeat(32) } }) });
    await settle();
    assert.deepEqual([env.last.sent, env.last.closed, states.at(-1), env.pending()], [[], 1000, State.OUTDATED, 0]);
    // A PC that finds this page out of date: reload, no retries.
    const outdated = harness();
    const details = [];
    outdated.conn.onState = (state, detail) => details.push([state, detail]);
    outdated.conn.start(TOKEN);
    outdated.env.last.onopen();
    outdated.env.last.onclose({ code: 4426 });
    await settle();
    assert.deepEqual(details.at(-1), [State.OUTDATED, { reload: true }]);
    assert.equal(outdated.env.pending(), 0);
});

const WATCHED = '{"command":"paired","params":{"version":2,"heartbeat":true}}';

// The heartbeat's own timer: the most recent pending one of HEARTBEAT_MS.
function beat(env) {
    const t = env.timers.findLast((x) => !x.cancelled && !x.done && x.ms === HEARTBEAT_MS);
    assert.ok(t, 'a heartbeat should be scheduled');
    t.done = true;
    env.clock += t.ms;
    t.fn();
}

test('a link that stops answering its pings is given up at once: nothing more goes out on it', async () => {
    const { env, conn, states } = harness();
    const details = [];
    conn.onState = (s, d) => { states.push(s); details.push(d); };
    conn.start(TOKEN);
    const first = env.last;
    const pc = await pair(first, 'ab'.repeat(32), WATCHED);
    const opened = [];
    const pings = () => {
        for (const f of first.sent.slice(1 + opened.length)) opened.push(JSON.parse(pc.open(f)));
        return opened;
    };
    assert.deepEqual([...pings()], [{ command: 'ping', params: { seq: 1 } }], 'the first ping goes at once');
    beat(env);
    assert.equal(pings().length, 2);
    first.onmessage({ data: pc.seal('{"command":"pong","params":{"seq":1}}') });
    assert.equal(conn.send(mouseMove(1, 0)), true);
    beat(env);
    beat(env); // two pings unanswered: still within DEAD_MS of the pong
    assert.equal(conn.state, State.CONNECTED);
    env.clock += DEAD_MS - 2 * HEARTBEAT_MS + 1;
    // The deadline passed: a move made now is refused before any timer notices.
    assert.equal(conn.send(mouseMove(2, 0)), false);
    const sentBefore = first.sent.length;
    beat(env);
    assert.equal(first.sent.length, sentBefore);
    assert.equal(first.closed, 1000);
    assert.deepEqual([env.sockets.length, conn.state, details.at(-1)], [2, State.CONNECTING, { reconnecting: true }]);
    // Late frames of the old link change nothing.
    first.onmessage({ data: pc.seal('{"command":"pong","params":{"seq":2}}') });
    assert.equal(conn.state, State.CONNECTING);
    assert.deepEqual(pings().map((m) => m.command), ['ping', 'ping', 'mousemove', 'ping', 'ping']);
});

test('a hidden page neither pings nor judges; shown again after a long while it reconnects at once', async () => {
    const { env, conn } = harness();
    let visible = true;
    env.visible = () => visible;
    conn.start(TOKEN);
    await pair(env.last, 'ab'.repeat(32), WATCHED);
    visible = false;
    const sent = env.last.sent.length;
    for (let i = 0; i < 10; i += 1) beat(env);
    assert.deepEqual([env.last.sent.length, conn.state, env.sockets.length], [sent, State.CONNECTED, 1]);
    visible = true;
    conn.resume();
    assert.deepEqual([env.sockets.length, conn.state], [2, State.CONNECTING]);
});

test('a PC that does not say it answers pings is never pinged nor taken for dead', async () => {
    const { env, conn } = harness();
    conn.start(TOKEN);
    await pair(env.last);
    const sent = env.last.sent.length;
    assert.equal(env.pending(), 0);
    env.clock += 10 * DEAD_MS;
    conn.resume();
    assert.equal(conn.send(mouseMove(1, 0)), true);
    assert.deepEqual([env.last.sent.length, env.sockets.length], [sent + 1, 1]);
});

test('an answered ping resets the back-off, however short the link then lasts', async () => {
    const { env, conn } = harness();
    conn.start(TOKEN);
    for (let i = 0; i < 4; i += 1) {
        env.last.onclose({ code: 1006 });
        await settle();
        env.retry();
    }
    const pc = await pair(env.last, 'ab'.repeat(32), WATCHED);
    beat(env);
    env.last.onmessage({ data: pc.seal('{"command":"pong","params":{"seq":1}}') });
    env.last.onclose({ code: 1006 });
    assert.equal(env.retry(), 500);
});

test('an attempt that is not paired in time is given up, once, like a failed one', async () => {
    const { env, conn } = harness();
    conn.start(TOKEN);
    const first = env.last;
    first.onopen(); // the handshake hangs: an address that has gone, a frozen PC
    env.timeOut();
    await settle();
    assert.equal(first.closed, 1000);
    assert.equal(conn.state, State.WAITING);
    first.onclose?.({ code: 1006 }); // the browser's own close event, later
    await settle();
    assert.equal(env.pending(), 1);
    env.retry();
    await pair(env.last);
    assert.deepEqual([conn.state, env.timers.filter((x) => !x.cancelled && !x.done).length], [State.CONNECTED, 0]);
});

test('an attempt nothing answers is replaced by a fresh one at once, and is never taken for a refusal', async () => {
    const { env, conn, states } = harness({ reachable: true });
    let answered = null;
    env.probe = () => {
        env.probes += 1;
        return new Promise((resolve) => { answered = resolve; });
    };
    conn.start(TOKEN);
    const first = env.last;
    env.timeOut(OPEN_MS);
    await settle();
    assert.deepEqual([first.closed, env.sockets.length, conn.state, env.pending()], [1000, 2, State.CONNECTING, 0]);
    env.timeOut(OPEN_MS);
    await settle();
    assert.deepEqual([env.sockets.length, env.probes], [3, 1], 'one probe at a time');
    answered(true); // the PC's page answers meanwhile: still no refusal
    await settle();
    env.timeOut(OPEN_MS);
    await settle();
    assert.deepEqual([env.sockets.length, env.probes], [4, 2]);
    assert.ok(!states.includes(State.REFUSED) && !states.includes(State.WAITING), states.join());
    first.onopen?.(); // the first attempt's late events change nothing
    await pair(env.last);
    assert.deepEqual([conn.state, env.timers.filter((x) => !x.cancelled && !x.done).length], [State.CONNECTED, 0]);
});
