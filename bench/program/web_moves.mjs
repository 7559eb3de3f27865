// Plays a paired browser moving the pointer: "mousemove" messages, sealed, over the web
// client's live channel at a steady rate; prints how many were sent.
//   node bench/program/web_moves.mjs <token> <seconds> [moves per second] [port]
// A WebSocket client of its own (Node 20 has none) speaking just what the page speaks: one
// masked frame per message, the answer in clear, then sealed binary frames.
import crypto from 'node:crypto';
import { createRequire } from 'node:module';
import net from 'node:net';

import { challengeAnswer, toHex } from '../../mobile/js/hmac.js';
import { deriveKey, fromHex, RANDOM_BYTES, Seal, TO_PC, VERSION } from '../../mobile/js/seal.js';

const nacl = createRequire(import.meta.url)('/usr/share/nodejs/tweetnacl/nacl-fast.js');
const [token, seconds, rate = 240, port = 6888] = process.argv.slice(2).map((a, i) => (i ? Number(a) : a));

function frame(opcode, payload) {
    const body = Buffer.from(payload);
    const head = body.length < 126 ? Buffer.from([0x80 | opcode, 0x80 | body.length])
        : Buffer.from([0x80 | opcode, 0x80 | 126, body.length >> 8, body.length & 0xff]);
    const mask = crypto.randomBytes(4);
    return Buffer.concat([head, mask, body.map((b, i) => b ^ mask[i % 4])]);
}

const socket = net.connect(port, '127.0.0.1');
socket.setNoDelay(true);
let buffered = Buffer.alloc(0);
let upgraded = false;
const messages = [];
let wake = null;
socket.on('data', (data) => {
    buffered = Buffer.concat([buffered, data]);
    if (!upgraded) {
        const end = buffered.indexOf('\r\n\r\n');
        if (end < 0) return;
        if (!buffered.subarray(0, 12).toString().includes('101')) throw new Error(buffered.toString());
        upgraded = true;
        buffered = buffered.subarray(end + 4);
    }
    while (buffered.length >= 2) {
        let length = buffered[1] & 0x7f;
        let head = 2;
        if (length === 126) [length, head] = [buffered.readUInt16BE(2), 4];
        else if (length === 127) [length, head] = [Number(buffered.readBigUInt64BE(2)), 10];
        if (buffered.length < head + length) break;
        messages.push({ opcode: buffered[0] & 0x0f, payload: buffered.subarray(head, head + length) });
        buffered = buffered.subarray(head + length);
    }
    wake?.();
});
const next = async () => {
    while (messages.length === 0) await new Promise((resolve) => { wake = resolve; });
    return messages.shift();
};

socket.write(`GET /ws HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n`
    + `Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: ${crypto.randomBytes(16).toString('base64')}\r\n\r\n`);
const { challenge } = JSON.parse((await next()).payload).params;
const pageRandom = crypto.randomBytes(RANDOM_BYTES);
const answer = await challengeAnswer(token, challenge, null);
socket.write(frame(1, JSON.stringify({ command: 'answer', params: { answer, nonce: toHex(pageRandom), version: VERSION } })));
const seal = new Seal(await deriveKey(token, fromHex(challenge), pageRandom, null), TO_PC, nacl);
await next(); // "paired"

const start = performance.now();
let sent = 0;
for (;;) {
    const due = (sent / rate) * 1000;
    if (due >= seconds * 1000) break;
    const wait = start + due - performance.now();
    if (wait > 0) await new Promise((resolve) => setTimeout(resolve, wait));
    // Back and forth, so that the pointer stays where it is over any even number of moves.
    const dx = sent % 2 ? -3 : 3;
    socket.write(frame(2, seal.seal(`{"command":"mousemove","params":{"dx":${dx},"dy":0}}`)));
    sent += 1;
}
socket.end();
console.log(sent);
