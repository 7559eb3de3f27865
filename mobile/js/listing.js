// Turns "mediaexplore" and "appexplore" replies into plain view items, and
// keeps the media browser's way back. Replies come from the network, so every
// field is checked and anything malformed is dropped rather than shown.

import { mediaExplore, mediaOpen } from './protocol.js';

export const AUDIO_EXTENSIONS = Object.freeze(['mp3', 'wav', 'aac', 'flac', 'dts', 'm4a', 'cue']);
export const VIDEO_EXTENSIONS = Object.freeze(['mkv', 'avi', 'mp4', 'mov', 'mpg', 'wmv', 'dat', 'ts', 'iso']);

// More entries than this are not rendered; a folder that large is not
// browsable on a phone anyway and the page must stay responsive.
export const MAX_ITEMS = 2000;

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

// A name must be one path segment: an empty name, "." or "..", or one holding
// a separator would lead the browser somewhere other than into a child.
function isPlainName(name) {
    return typeof name === 'string' && name !== '' && name !== '.' && name !== '..' && !/[\\/\u0000]/.test(name);
}

export function joinPath(base, name) {
    if (base === '' || base === '/') return `/${name}`;
    return /[\\/]$/.test(base) ? base + name : `${base}/${name}`;
}

export function mediaKind(ext) {
    const e = String(ext ?? '').toLowerCase();
    if (AUDIO_EXTENSIONS.includes(e)) return 'audio';
    if (VIDEO_EXTENSIONS.includes(e)) return 'video';
    return 'other';
}

export function formatSize(bytes) {
    const n = Number(bytes);
    if (!Number.isFinite(n) || n < 0) return '';
    if (n < 1024) return `${Math.trunc(n)} B`;
    const units = ['KB', 'MB', 'GB', 'TB', 'PB'];
    let v = n / 1024;
    let i = 0;
    while (v >= 1024 && i < units.length - 1) {
        v /= 1024;
        i += 1;
    }
    return `${v < 10 ? v.toFixed(1) : Math.round(v)} ${units[i]}`;
}

function suffixOf(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.slice(dot + 1) : '';
}

// params: the "params" of a "mediaexplore" reply. Returns null when the reply
// has no usable "packet". The root lists the registered folders as objects
// with their own "path"; a folder lists sub-folder names to join to its path.
export function parseMediaListing(params) {
    if (!isObject(params) || !isObject(params.packet)) return null;
    const packet = params.packet;
    const root = params.root === true;
    const path = typeof packet.path === 'string' ? packet.path : root ? '/' : '';
    if (!root && path === '') return null;

    // A folder that does not exist comes back without "dirs" and "files".
    const exists = root || Array.isArray(packet.dirs) || Array.isArray(packet.files);
    const dirs = [];
    const files = [];
    let truncated = false;

    for (const entry of Array.isArray(packet.dirs) ? packet.dirs : []) {
        if (dirs.length >= MAX_ITEMS) {
            truncated = true;
            break;
        }
        if (root) {
            if (!isObject(entry) || typeof entry.path !== 'string' || entry.path === '') continue;
            const name = typeof entry.name === 'string' && entry.name !== '' ? entry.name : entry.path;
            dirs.push({ type: 'dir', name, path: entry.path });
        } else if (isPlainName(entry)) {
            dirs.push({ type: 'dir', name: entry, path: joinPath(path, entry) });
        }
    }

    if (!root) {
        for (const entry of Array.isArray(packet.files) ? packet.files : []) {
            if (dirs.length + files.length >= MAX_ITEMS) {
                truncated = true;
                break;
            }
            if (!isObject(entry) || !isPlainName(entry.name)) continue;
            const ext = typeof entry.ext === 'string' ? entry.ext : suffixOf(entry.name);
            const size = Number.isFinite(entry.size) && entry.size >= 0 ? entry.size : null;
            files.push({
                type: 'file',
                name: entry.name,
                path: joinPath(path, entry.name),
                ext,
                kind: mediaKind(ext),
                size,
                sizeText: size === null ? '' : formatSize(size),
                modified: typeof entry.lm === 'string' ? entry.lm : '',
            });
        }
    }
    return { root, path: root ? '/' : path, exists, dirs, files, truncated };
}

// params: the "params" of an "appexplore" reply.
export function parseApps(params) {
    if (!isObject(params) || !Array.isArray(params.apps)) return [];
    const apps = [];
    for (const entry of params.apps) {
        if (apps.length >= MAX_ITEMS) break;
        if (!isObject(entry) || typeof entry.path !== 'string' || entry.path === '') continue;
        const str = (v) => (typeof v === 'string' ? v : '');
        const name = str(entry.name) || baseName(entry.path);
        apps.push({ name, path: entry.path, workdir: str(entry.workdir), args: str(entry.args) });
    }
    return apps;
}

export function baseName(path) {
    const parts = String(path).split(/[\\/]/).filter(Boolean);
    return parts.length ? parts[parts.length - 1] : String(path);
}

// The media browser's position. Going back follows the way the user came
// rather than cutting the path, so it never climbs above a registered folder.
export class MediaNavigator {
    constructor() {
        this.stack = []; // {path, name} of the folders entered, root excluded
    }

    get path() {
        return this.stack.length ? this.stack[this.stack.length - 1].path : '/';
    }

    get atRoot() {
        return this.stack.length === 0;
    }

    // Names from the registered folder down to here, for a breadcrumb.
    get trail() {
        return this.stack.map((e) => e.name);
    }

    root() {
        this.stack = [];
        return mediaExplore('/');
    }

    enter(item) {
        this.stack.push({ path: item.path, name: item.name });
        return mediaExplore(item.path);
    }

    back() {
        if (this.stack.length === 0) return null;
        this.stack.pop();
        return mediaExplore(this.path);
    }

    refresh() {
        return mediaExplore(this.path);
    }

    open(item) {
        return mediaOpen(item.path);
    }

    // Replies arrive in request order; one for a folder the user has already
    // left is stale and must not replace the current view.
    isCurrent(listing) {
        if (!listing) return false;
        return this.atRoot ? listing.root : !listing.root && listing.path === this.path;
    }
}
