// The Files tab: files chosen here go to the PC, one request each, with progress, speed, time
// left and a cancel per file; files the PC offers appear as cards to download.
import { t } from './i18n.js';
import { Status, UploadQueue, formatBytes, formatDuration } from './transfer.js';

const REASONS = {
    tooLarge: () => t('Too large for the PC'),
    noSpace: () => t('Not enough free space on the PC'),
    noFolder: () => t('The PC cannot write to its folder'),
    refused: () => t('Refused by the PC'),
    failed: () => t('Failed'),
};

function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
}

// `send(command)` sends over the sealed channel and says whether it went out.
export function createFiles({ send }) {
    const list = document.getElementById('upload-list');
    const rows = new Map();

    function render(item) {
        let row = rows.get(item.id);
        if (!row) {
            row = el('li', 'upload');
            row.dataset.id = String(item.id);
            const head = el('div', 'upload-head');
            head.append(el('span', 'upload-name', item.file.name || '—'), el('span', 'upload-size', formatBytes(item.file.size)));
            const cancel = el('button', 'link-btn upload-cancel', t('Cancel'));
            cancel.type = 'button';
            cancel.addEventListener('click', () => queue.cancel(item.id));
            head.append(cancel);
            const bar = el('progress', 'upload-bar');
            bar.max = 1;
            row.append(head, bar, el('div', 'upload-state subtle'));
            rows.set(item.id, row);
            list.prepend(row);
        }
        const fraction = item.file.size > 0 ? item.sent / item.file.size : item.status === Status.DONE ? 1 : 0;
        row.querySelector('.upload-bar').value = fraction;
        row.dataset.status = item.status;
        row.querySelector('.upload-cancel').hidden = item.status !== Status.WAITING && item.status !== Status.SENDING;
        let text = '';
        if (item.status === Status.WAITING) text = t('Waiting');
        else if (item.status === Status.SENDING && item.pace) {
            const speed = item.pace.bytesPerSecond();
            text = speed > 0
                ? t('{done} of {total} · {speed}/s · {left} left', {
                    done: formatBytes(item.sent), total: formatBytes(item.file.size),
                    speed: formatBytes(Math.round(speed)), left: formatDuration(item.pace.secondsLeft(item.file.size)),
                })
                : t('Sending');
        } else if (item.status === Status.DONE) text = item.savedAs ? t('Saved on the PC as {name}', { name: item.savedAs }) : t('Sent');
        else if (item.status === Status.FAILED) text = (REASONS[item.reason] ?? REASONS.failed)();
        else if (item.status === Status.CANCELLED) text = t('Cancelled');
        row.querySelector('.upload-state').textContent = text;
        document.getElementById('upload-cancel-all').hidden = queue.items.every(
            (candidate) => candidate.status !== Status.WAITING && candidate.status !== Status.SENDING);
    }

    const queue = new UploadQueue({
        requestTicket: (id, file) => send({ command: 'uploadticket', params: { id, size: file.size } }),
        createRequest: () => new XMLHttpRequest(),
        now: () => Date.now(),
        setTimeout: (f, ms) => window.setTimeout(f, ms),
        clearTimeout: (id) => window.clearTimeout(id),
    }, render);

    const picker = document.getElementById('upload-input');
    picker.addEventListener('change', () => {
        queue.add([...picker.files]);
        picker.value = ''; // the same files may be chosen again
    });
    document.getElementById('upload-cancel-all').addEventListener('click', () => queue.cancelAll());

    function showOffer(params) {
        if (typeof params?.url !== 'string' || !params.url.startsWith('download/')) return;
        const card = el('li', 'offer');
        const name = typeof params.name === 'string' ? params.name : '';
        const info = el('div', 'offer-info');
        info.append(el('span', 'upload-name', name), el('span', 'upload-size', formatBytes(Number(params.size) || 0)));
        const link = el('a', 'btn primary', t('Download'));
        link.href = params.url;
        link.setAttribute('download', name);
        link.addEventListener('click', () => {
            // The link works once; the card goes with it.
            window.setTimeout(() => card.remove(), 0);
        });
        card.append(info, link);
        document.getElementById('offer-list').prepend(card);
        document.getElementById('offers').hidden = false;
    }

    return {
        queue,
        // True when the message was for this tab.
        handle(message) {
            if (message.command === 'uploadticket') {
                queue.ticketReply(message.params);
                return true;
            }
            if (message.command === 'fileoffer') {
                showOffer(message.params);
                return true;
            }
            return false;
        },
        connectionLost: () => queue.connectionLost(),
    };
}
