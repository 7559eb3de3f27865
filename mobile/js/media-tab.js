// The Media tab: the player's keys, what is playing, the PC's volume and the browser of the
// media folders.

import { VOLUME_STATUS } from './desk.js';
import { DESK_TEXT, createVolumeBar } from './desk-view.js';
import { t } from './i18n.js';
import { MEDIA_KEYS } from './keyboard.js';
import { MediaNavigator, parseMediaListing } from './listing.js';
import { MEDIA_STATUS } from './nowplaying.js';
import { NOW_PLAYING_TEXT, createNowPlayingBar } from './nowplaying-view.js';
import { keyCombo } from './protocol.js';
import { $, REPLY_TIMEOUT_MS, el, icon, listItem, listMessage, replyHandler, translated } from './page.js';

// Deep paths are told apart by their end, so long ones lose their start.
function shortenStart(text, max) {
    const chars = Array.from(text);
    return chars.length <= max ? text : `…${chars.slice(chars.length - max + 1).join('')}`;
}

export function createMedia({ connection, send, toast }) {
    const media = new MediaNavigator();
    let mediaShown = false; // a listing for the current place has been asked for
    let mediaTimer = null;

    for (const key of MEDIA_KEYS) {
        const b = el('button', `key${key.id === 'playpause' ? ' main' : ''}`);
        b.type = 'button';
        b.setAttribute('aria-label', t(key.label));
        b.appendChild(icon(key.id));
        b.addEventListener('click', () => send(keyCombo([key.vk])));
        $('media-keys').appendChild(b);
    }

    const nowPlaying = createNowPlayingBar({ parent: $('view-media'), before: $('media-keys'), send, text: translated(NOW_PLAYING_TEXT) });
    const pcVolume = createVolumeBar({ parent: $('view-media'), before: $('media-keys'), send, text: translated(DESK_TEXT) });

    function setMediaHeader() {
        const trail = media.trail;
        $('media-title').textContent = media.atRoot ? t('Media folders') : trail[trail.length - 1];
        $('media-path').textContent = media.atRoot ? '' : shortenStart(media.path, 44);
        $('media-back').disabled = media.atRoot;
    }

    function mediaMessage(text, retry) {
        listMessage('media-empty', text, retry && (() => requestMedia(media.refresh())));
    }

    function requestMedia(command) {
        setMediaHeader();
        clearTimeout(mediaTimer);
        $('media-list').replaceChildren();
        if (!send(command)) {
            renderMediaPlaceholder();
            return;
        }
        mediaShown = true;
        mediaMessage('Loading…');
        mediaTimer = setTimeout(() => mediaMessage(t('No answer from the PC.'), true), REPLY_TIMEOUT_MS);
    }

    function renderMediaPlaceholder() {
        if (connection.connected) return;
        clearTimeout(mediaTimer);
        setMediaHeader();
        $('media-list').replaceChildren();
        mediaMessage(t('Connect to the PC to browse its media folders.'));
        mediaShown = false;
    }

    function renderMedia(listing) {
        clearTimeout(mediaTimer);
        setMediaHeader();
        const items = [];
        for (const dir of listing.dirs) {
            const meta = listing.root ? dir.path : '';
            items.push(listItem('folder', 'dir', dir.name, meta, true, () => requestMedia(media.enter(dir))));
        }
        for (const file of listing.files) {
            const meta = [file.sizeText, file.modified].filter(Boolean).join(' · ');
            const iconName = file.kind === 'other' ? 'file' : file.kind;
            items.push(listItem(iconName, file.kind, file.name, meta, false, () => {
                if (send(media.open(file))) {
                    toast(t('Opening {name}', { name: file.name }));
                    nowPlaying.expect(file.name);
                }
            }));
        }
        $('media-list').replaceChildren(...items);
        if (!listing.exists) mediaMessage(t('This folder is not available on the PC.'), true);
        else if (listing.root && items.length === 0) mediaMessage(t('No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.'));
        else if (items.length === 0) mediaMessage(t('No media files here.'));
        else if (listing.truncated) mediaMessage(t('Only the first entries are shown.'));
        else mediaMessage('');
    }

    $('media-back').addEventListener('click', () => {
        const command = media.back();
        if (command) requestMedia(command);
    });
    $('media-refresh').addEventListener('click', () => requestMedia(media.refresh()));

    return {
        handle: replyHandler([
            ['mediaexplore', (params) => {
                const listing = parseMediaListing(params);
                if (listing && media.isCurrent(listing)) renderMedia(listing);
            }],
            [MEDIA_STATUS, (params) => nowPlaying.handle(params)],
            [VOLUME_STATUS, (params) => pcVolume.handle(params)],
        ]),
        // The link is (back) up: the listing is asked for anew when the tab is shown, and the
        // PC then tells of every change of its player and of its own volume.
        connected() {
            mediaShown = false;
            nowPlaying.requestStatus();
            pcVolume.requestStatus();
        },
        // The link is down: no answer is awaited any more, and nothing of the PC is shown.
        disconnected() {
            clearTimeout(mediaTimer);
            renderMediaPlaceholder();
            nowPlaying.reset();
            pcVolume.reset();
        },
        // The tab is shown while connected: its listing, unless asked for already.
        load() {
            if (!mediaShown) requestMedia(media.refresh());
        },
    };
}
