// The page's own element helpers, shared by the shell (app.js) and its tabs.

import { t } from './i18n.js';

export const $ = (id) => document.getElementById(id);

// How long a list waits for the PC's answer before it offers to try again.
export const REPLY_TIMEOUT_MS = 8000;

export function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text; // never innerHTML: names come from the PC's disk
    return node;
}

export function icon(name) {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    const use = document.createElementNS('http://www.w3.org/2000/svg', 'use');
    use.setAttribute('href', `#i-${name}`);
    svg.appendChild(use);
    return svg;
}

// The note under a list, with a "Try again" button when onRetry is given.
export function listMessage(boxId, text, onRetry) {
    const box = $(boxId);
    box.replaceChildren();
    if (text) box.appendChild(el('div', '', text));
    if (onRetry) {
        const b = el('button', 'btn', t('Try again'));
        b.type = 'button';
        b.addEventListener('click', onRetry);
        box.appendChild(b);
    }
}

export function listItem(iconName, iconClass, name, meta, withChevron, onTap) {
    const li = el('li');
    const b = el('button', 'item');
    b.type = 'button';
    const badge = el('span', `item-icon ${iconClass}`);
    if (iconName) badge.appendChild(icon(iconName));
    else badge.textContent = Array.from(name.trim())[0]?.toUpperCase() ?? '?';
    const text = el('span', 'item-text');
    text.appendChild(el('span', 'item-name', name));
    if (meta) text.appendChild(el('span', 'item-meta', meta));
    b.append(badge, text);
    if (withChevron) {
        const chevron = icon('chevron');
        chevron.classList.add('chevron');
        b.appendChild(chevron);
    }
    b.addEventListener('click', onTap);
    li.appendChild(b);
    return li;
}

// The texts of a view module's table in the page's language.
export function translated(table) {
    return Object.fromEntries(Object.entries(table).map(([key, text]) => [key, t(text)]));
}

// A tab's share of the PC's messages, by command: the returned function runs the handler of a
// message's command with its params and says whether the tab had one.
export function replyHandler(entries) {
    const handlers = new Map(entries);
    return (message) => {
        const handler = handlers.get(message.command);
        if (handler) handler(message.params);
        return Boolean(handler);
    };
}
