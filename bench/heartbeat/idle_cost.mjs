// What the heartbeat costs while the page is idle and in front: the real Connection of the web
// client, paired with a PC that answers each ping, run for `minutes` of simulated time; counts
// the frames and bytes each way (WebSocket payloads; the frame head adds 6 bytes from the page,
// 2 from the PC, before TCP/IP). Usage: node bench/heartbeat/idle_cost.mjs [minutes]
import { createRequire } from 'node:module';

import { Connection } from '../../mobile/js/connection.js';
import { challengeAnswer } from '../../mobile/js/hmac.js';
import { deriveKey, fromHex, Seal, TO_PAGE } from '../../mobile/js/seal.js';

const nacl = createRequire(import.meta.url)('/usr/share/nodejs/tweetnacl/nacl-fast.js');
const TOKEN = '0123456789abcdef0123456789abcdef';
const minutes = Number(process.argv[2] ?? 10);

let clock = 0;
const timers = [];
let pc = null;
const counts = { toPc: 0, toPcBytes: 0, toPage: 0, toPageBytes: 0 };
let socket = null;
const env = {
    location: { protocol: 'http:', host: 'pc:6888' },
    createSocket() {
        socket = {
            send(frame) {
                if (!pc) {
                    socket.answer = JSON.parse(frame); // the answer, in clear
                    return;
                }
                counts.toPc += 1;
                counts.toPcBytes += frame.byteLength ?? frame.length;
                const message = JSON.parse(pc.open(frame));
                if (message.command === 'ping') {
                    const pong = pc.seal(JSON.stringify({ command: 'pong', params: message.params }));
                    counts.toPage += 1;
                    counts.toPageBytes += pong.byteLength ?? pong.length;
                    queueMicrotask(() => socket.onmessage({ data: pong }));
                }
            },
            close() {},
        };
        return socket;
    },
    probe: () => Promise.resolve(true),
    answer: (token, challenge) => challengeAnswer(token, challenge, null),
    deriveKey: (token, a, b) => deriveKey(token, a, b, null),
    nacl,
    setTimeout: (fn, ms) => timers.push({ fn, at: clock + ms }),
    clearTimeout: (id) => { timers[id - 1].done = true; },
    now: () => clock,
};
const conn = new Connection(env);
conn.start(TOKEN);
const challenge = 'ab'.repeat(32);
socket.onopen();
socket.onmessage({ data: JSON.stringify({ command: 'challenge', params: { challenge, version: 2 } }) });
await new Promise((resolve) => setImmediate(resolve));
const pageRandom = fromHex(socket.answer.params.nonce);
pc = new Seal(await deriveKey(TOKEN, fromHex(challenge), pageRandom, null), TO_PAGE, nacl);
socket.onmessage({ data: pc.seal('{"command":"paired","params":{"version":2,"heartbeat":true}}') });

const end = minutes * 60000;
while (clock < end) {
    const next = timers.filter((t) => !t.done).sort((a, b) => a.at - b.at)[0];
    if (!next) break;
    next.done = true;
    clock = next.at;
    next.fn();
    await new Promise((resolve) => setImmediate(resolve)); // the pong arrives
}
const perMinute = (n) => (n / minutes).toFixed(1);
console.log(`idle ${minutes} min, connected: ${conn.state === 'connected'}`);
console.log(`page -> PC: ${perMinute(counts.toPc)} frames/min, ${perMinute(counts.toPcBytes)} payload bytes/min`);
console.log(`PC -> page: ${perMinute(counts.toPage)} frames/min, ${perMinute(counts.toPageBytes)} payload bytes/min`);
