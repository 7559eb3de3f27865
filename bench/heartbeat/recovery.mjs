// How soon the page is connected again after a silent loss (every packet dropped both ways):
// the web client's real Connection against a simulated PC and network, in simulated time. A
// connection attempt sends its first packet again after 1, 3, 7, 15... s as Linux does, the
// page's reachability probe gives up after 4 s as app.js does, and the PC answers at once.
// Losses of 4 to 30 s, each starting at another point of a heartbeat; the figure is the time
// from the end of the loss to "connected". With a git revision, its connection.js is
// measured too, in the same run. Usage: node bench/heartbeat/recovery.mjs [revision]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const nacl = createRequire(import.meta.url)('/usr/share/nodejs/tweetnacl/nacl-fast.js');
const TOKEN = '0123456789abcdef0123456789abcdef';
const SYN_RESENT = [0, 1000, 3000, 7000, 15000, 31000, 63000];
const PROBE_GIVES_UP = 4000;
// Loss lengths from `from` to `to`, one every 137 ms; each starts at another point of a heartbeat.
const RANGES = [[4000, 10000], [10000, 20000], [20000, 30000]];
const STEP = 137;
const js = fileURLToPath(new URL('../../mobile/js/', import.meta.url));

// The page's modules, with connection.js as `revision` had it.
function modulesOf(revision) {
    if (!revision) return js;
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-recovery-'));
    for (const file of fs.readdirSync(js)) if (file.endsWith('.js')) fs.copyFileSync(path.join(js, file), path.join(dir, file));
    fs.writeFileSync(path.join(dir, 'connection.js'), execFileSync('git', ['show', `${revision}:mobile/js/connection.js`], { cwd: js }));
    return dir;
}

// One run: paired, idle until `lossAt`, silent for `loss` ms; returns ms from the loss's end to
// "connected" (Infinity when it never was within a minute).
async function recovery(dir, lossAt, loss) {
    const { Connection } = await import(path.join(dir, 'connection.js'));
    const { challengeAnswer } = await import(path.join(dir, 'hmac.js'));
    const { deriveKey, fromHex, Seal, TO_PAGE } = await import(path.join(dir, 'seal.js'));
    let clock = 0;
    const timers = [];
    const at = (ms, fn) => timers.push({ fn, at: ms });
    const up = () => clock < lossAt || clock >= lossAt + loss;
    const createSocket = () => {
        const socket = { closed: false, pc: null, close() { this.closed = true; } };
        socket.send = (frame) => {
            if (socket.closed || !up()) return; // lost; the page gives such a link up by itself
            if (!socket.pc) {
                const { params } = JSON.parse(frame);
                deriveKey(TOKEN, fromHex('ab'.repeat(32)), fromHex(params.nonce), null).then((key) => {
                    socket.pc = new Seal(key, TO_PAGE, nacl);
                    at(clock + 1, () => !socket.closed && socket.onmessage({ data: socket.pc.seal('{"command":"paired","params":{"version":2,"heartbeat":true}}') }));
                });
                return;
            }
            const message = JSON.parse(socket.pc.open(frame));
            if (message.command === 'ping') {
                const pong = socket.pc.seal(JSON.stringify({ command: 'pong', params: message.params }));
                at(clock + 1, () => !socket.closed && up() && socket.onmessage({ data: pong }));
            }
        };
        const started = clock;
        for (const resent of SYN_RESENT) {
            at(started + resent, () => {
                if (socket.closed || socket.opened || !up()) return;
                socket.opened = true;
                at(clock + 2, () => {
                    if (socket.closed) return;
                    socket.onopen();
                    socket.onmessage({ data: JSON.stringify({ command: 'challenge', params: { challenge: 'ab'.repeat(32), version: 2 } }) });
                });
            });
        }
        return socket;
    };
    const probe = () => new Promise((resolve) => {
        const started = clock;
        let done = false;
        for (const resent of SYN_RESENT.filter((ms) => ms < PROBE_GIVES_UP)) {
            at(started + resent, () => {
                if (!done && up()) {
                    done = true;
                    at(clock + 2, () => resolve(true));
                }
            });
        }
        at(started + PROBE_GIVES_UP, () => {
            if (!done) resolve(false);
            done = true;
        });
    });
    let back = Infinity;
    const conn = new Connection({
        location: { protocol: 'http:', host: 'pc:6888' }, createSocket, probe, nacl,
        answer: (token, challenge) => challengeAnswer(token, challenge, null),
        deriveKey: (token, a, b) => deriveKey(token, a, b, null),
        setTimeout: (fn, ms) => at(clock + ms, fn),
        clearTimeout: (id) => { timers[id - 1].done = true; },
        now: () => clock,
    }, {
        onState: (state) => {
            if (process.env.VELMORA_TRACE) console.log(clock - lossAt - loss, state);
            if (state === 'connected' && clock >= lossAt + loss && back === Infinity) back = clock - lossAt - loss;
        },
    });
    conn.start(TOKEN);
    const end = lossAt + loss + 60000;
    while (clock < end && back === Infinity) {
        await new Promise((resolve) => setImmediate(resolve)); // promises of the handshake settle
        const next = timers.filter((t) => !t.done).sort((a, b) => a.at - b.at)[0];
        if (!next) break;
        next.done = true;
        clock = next.at;
        next.fn();
    }
    conn.stop();
    return back;
}

async function measure(dir) {
    const rows = [];
    for (const [from, to] of RANGES) {
        const times = [];
        for (let loss = from, k = 0; loss < to; loss += STEP, k += 1) times.push(await recovery(dir, 10000 + ((k * 379) % 1000), loss));
        times.sort((a, b) => a - b);
        rows.push({ from, to, runs: times.length, median: times[times.length >> 1], max: times.at(-1), never: times.filter((t) => t === Infinity).length });
    }
    return rows;
}

const s = (ms) => (ms === Infinity ? 'never' : `${(ms / 1000).toFixed(2)} s`);
const now = await measure(js);
const peer = process.argv[2] ? await measure(modulesOf(process.argv[2])) : null;
for (const [i, row] of now.entries()) {
    let line = `losses of ${row.from / 1000}-${row.to / 1000} s (${row.runs}): median ${s(row.median)}, max ${s(row.max)}, not back within a minute ${row.never}`;
    if (peer) {
        const p = peer[i];
        line += ` | ${process.argv[2]}: median ${s(p.median)}, max ${s(p.max)}, not back ${p.never}`;
        if (Number.isFinite(p.median) && row.median > 0) line += `, median ratio ${(p.median / row.median).toFixed(1)}`;
    }
    console.log(line);
}
