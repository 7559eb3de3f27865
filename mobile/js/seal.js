// The sealed live channel, the page's side. After the challenge both ends
// derive a session key from the pairing token and one fresh random value of
// each side (HKDF-SHA-256); every message then travels as one binary frame,
// crypto_secretbox (XSalsa20-Poly1305) from TweetNaCl-js. Nonces are never
// sent: each side counts its frames, and the nonce is the direction (byte 0)
// and the count (bytes 16-23, big-endian). A frame that was replayed,
// reordered, dropped before another, reflected or modified does not open.
// The README's "wire format" section is the reference for both ends.

import { hmacSha256 } from './hmac.js';

export const VERSION = 2; // of the handshake; 1 was the channel in clear
export const KEY_LABEL = 'velmora browser channel v2 key';
export const TO_PAGE = 1;
export const TO_PC = 2;
export const RANDOM_BYTES = 32;
export const MAC_BYTES = 16;

const utf8 = new TextEncoder();
const fromUtf8 = new TextDecoder('utf-8', { fatal: true });

export function fromHex(hex) {
    if (typeof hex !== 'string' || hex.length % 2 !== 0 || /[^0-9a-f]/.test(hex)) return null;
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; i += 1) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
    return bytes;
}

async function hmac(key, message, subtle) {
    if (subtle) {
        try {
            const cryptoKey = await subtle.importKey('raw', key, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
            return new Uint8Array(await subtle.sign('HMAC', cryptoKey, message));
        } catch {
            // exposed but refused on an insecure page
        }
    }
    return hmacSha256(key, message);
}

// HKDF-SHA-256 (RFC 5869): salt = PC's random value then the page's, input
// key material = the token's UTF-8 text, info = KEY_LABEL, one 32-byte block.
export async function deriveKey(token, pcRandom, pageRandom, subtle = globalThis.crypto?.subtle) {
    const salt = new Uint8Array(pcRandom.length + pageRandom.length);
    salt.set(pcRandom);
    salt.set(pageRandom, pcRandom.length);
    const prk = await hmac(salt, utf8.encode(String(token)), subtle);
    const label = utf8.encode(KEY_LABEL);
    const info = new Uint8Array(label.length + 1);
    info.set(label);
    info[label.length] = 1;
    return hmac(prk, info, subtle);
}

export function nonce(direction, counter) {
    const bytes = new Uint8Array(24);
    bytes[0] = direction;
    // Counters stay far below 2^53, so plain numbers do.
    let rest = counter;
    for (let i = 23; i >= 16; i -= 1) {
        bytes[i] = rest % 256;
        rest = Math.floor(rest / 256);
    }
    return bytes;
}

// One side of a session: seals what it sends, opens what it receives, in order.
export class Seal {
    constructor(key, outgoing, nacl = globalThis.nacl) {
        this.key = key;
        this.nacl = nacl;
        this.outgoing = outgoing;
        this.incoming = outgoing === TO_PC ? TO_PAGE : TO_PC;
        this.sent = 0;
        this.received = 0;
        this.broken = false;
    }

    seal(text) {
        const message = typeof text === 'string' ? utf8.encode(text) : text;
        return this.nacl.secretbox(message, nonce(this.outgoing, this.sent++), this.key);
    }

    // The text of the next frame; null when it does not open, and from then
    // on nothing opens: the session is over.
    open(frame) {
        if (this.broken) return null;
        const bytes = frame instanceof Uint8Array ? frame : new Uint8Array(frame);
        const plain = bytes.length >= MAC_BYTES
            ? this.nacl.secretbox.open(bytes, nonce(this.incoming, this.received), this.key)
            : null;
        if (!plain) {
            this.broken = true;
            return null;
        }
        this.received += 1;
        try {
            return fromUtf8.decode(plain);
        } catch {
            this.broken = true;
            return null;
        }
    }
}

export function randomBytes(count, crypto = globalThis.crypto) {
    // getRandomValues, unlike crypto.subtle, is there on plain http pages too.
    return crypto.getRandomValues(new Uint8Array(count));
}
