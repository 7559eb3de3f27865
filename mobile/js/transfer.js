// Files from the phone to the PC: one upload request per file, each with a single-use ticket
// that the PC hands out over the sealed channel. The DOM stays out of here (see files.js).

// Uploads running at once; the rest wait their turn.
export const PARALLEL = 3;
// A ticket not answered by then counts as a failure.
export const TICKET_TIMEOUT_MS = 15000;

export const Status = Object.freeze({
    WAITING: 'waiting',
    SENDING: 'sending',
    DONE: 'done',
    FAILED: 'failed',
    CANCELLED: 'cancelled',
});

// What the PC's refusal or answer means, as a key the page translates.
export function reasonOf(code) {
    switch (code) {
    case 'tooLarge': case 413: return 'tooLarge';
    case 'noSpace': case 507: return 'noSpace';
    case 'noFolder': return 'noFolder';
    case 403: return 'refused';
    default: return 'failed';
    }
}

// Bytes per second over the last few seconds, and the time left at that pace.
export class Pace {
    constructor(now) {
        this.samples = [[now, 0]];
    }

    update(now, bytes) {
        this.samples.push([now, bytes]);
        while (this.samples.length > 2 && now - this.samples[0][0] > 3000) this.samples.shift();
    }

    bytesPerSecond() {
        const [t0, b0] = this.samples[0];
        const [t1, b1] = this.samples[this.samples.length - 1];
        return t1 > t0 ? ((b1 - b0) * 1000) / (t1 - t0) : 0;
    }

    secondsLeft(total) {
        const speed = this.bytesPerSecond();
        const done = this.samples[this.samples.length - 1][1];
        return speed > 0 ? Math.ceil(Math.max(0, total - done) / speed) : null;
    }
}

export function formatBytes(bytes) {
    const units = ['B', 'KB', 'MB', 'GB', 'TB'];
    let value = bytes;
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value /= 1024;
        unit += 1;
    }
    return unit === 0 ? `${value} B` : `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
}

export function formatDuration(seconds) {
    if (seconds === null || !Number.isFinite(seconds)) return '';
    const s = Math.max(0, Math.round(seconds));
    if (s < 60) return `${s} s`;
    if (s < 3600) return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
    return `${Math.floor(s / 3600)}:${String(Math.floor(s / 60) % 60).padStart(2, '0')}:${String(s % 60).padStart(2, '0')}`;
}

// The queue of chosen files. `io` supplies the outside world:
//   requestTicket(id, file) sends the ask; the reply comes to `ticketReply`
//   createRequest() -> an XMLHttpRequest-like object
//   now(), setTimeout(f, ms), clearTimeout(id)
// `onChange(item)` is told whenever an item's status or progress moves.
export class UploadQueue {
    constructor(io, onChange) {
        this.io = io;
        this.onChange = onChange;
        this.items = [];
        this.nextId = 1;
    }

    add(files) {
        const added = [];
        for (const file of files) {
            const item = { id: this.nextId++, file, status: Status.WAITING, sent: 0, reason: '', savedAs: '' };
            this.items.push(item);
            added.push(item);
            this.onChange(item);
        }
        this.pump();
        return added;
    }

    running() {
        return this.items.filter((item) => item.status === Status.SENDING).length;
    }

    pump() {
        for (const item of this.items) {
            if (this.running() >= PARALLEL) return;
            if (item.status !== Status.WAITING) continue;
            item.status = Status.SENDING;
            item.pace = new Pace(this.io.now());
            item.timer = this.io.setTimeout(() => this.finish(item, Status.FAILED, 'failed'), TICKET_TIMEOUT_MS);
            this.onChange(item);
            if (!this.io.requestTicket(item.id, item.file)) this.finish(item, Status.FAILED, 'failed');
        }
    }

    // The PC's answer to a ticket request: {id, ticket} or {id, error}.
    ticketReply(params) {
        const item = this.items.find((candidate) => candidate.id === params?.id);
        if (!item || item.status !== Status.SENDING || item.request) return;
        this.io.clearTimeout(item.timer);
        if (typeof params.ticket !== 'string' || params.error) {
            this.finish(item, Status.FAILED, reasonOf(params.error));
            return;
        }
        const request = this.io.createRequest();
        item.request = request;
        request.open('POST', 'upload');
        request.setRequestHeader('X-Velmora-Ticket', params.ticket);
        request.setRequestHeader('X-Velmora-Name', encodeURIComponent(item.file.name));
        request.upload.onprogress = (event) => {
            item.sent = event.loaded;
            item.pace.update(this.io.now(), event.loaded);
            this.onChange(item);
        };
        request.onload = () => {
            if (request.status === 200) {
                item.sent = item.file.size;
                try {
                    item.savedAs = JSON.parse(request.responseText).name ?? '';
                } catch {
                    item.savedAs = '';
                }
                this.finish(item, Status.DONE, '');
            } else {
                this.finish(item, Status.FAILED, reasonOf(request.status));
            }
        };
        request.onerror = () => this.finish(item, Status.FAILED, 'failed');
        request.send(item.file);
    }

    cancel(id) {
        const item = this.items.find((candidate) => candidate.id === id);
        if (!item || (item.status !== Status.WAITING && item.status !== Status.SENDING)) return;
        this.io.clearTimeout(item.timer);
        const request = item.request;
        this.finish(item, Status.CANCELLED, '');
        request?.abort();
    }

    cancelAll() {
        for (const item of [...this.items]) this.cancel(item.id);
    }

    // The channel dropped: asks still unanswered will never be.
    connectionLost() {
        for (const item of this.items) {
            if (item.status === Status.SENDING && !item.request) this.finish(item, Status.FAILED, 'failed');
        }
    }

    finish(item, status, reason) {
        if (item.status === Status.DONE || item.status === Status.FAILED || item.status === Status.CANCELLED) return;
        item.status = status;
        item.reason = reason;
        if (item.request) {
            item.request.upload.onprogress = null;
            item.request.onload = null;
            item.request.onerror = null;
        }
        this.onChange(item);
        this.pump();
    }
}
