// The Apps tab: the PC's registered applications and the power panel.

import { t } from './i18n.js';
import { baseName, parseApps } from './listing.js';
import { POWER, POWER_STATUS } from './power.js';
import { POWER_TEXT, createPowerPanel } from './power-view.js';
import { appExplore, appOpen } from './protocol.js';
import { $, REPLY_TIMEOUT_MS, listItem, listMessage, replyHandler, translated } from './page.js';

const AVATAR_COLOURS = ['#264e86', '#1780d5', '#6b4fbb', '#b0476b', '#2f8f83', '#b7791f'];
function avatarColour(name) {
    let h = 0;
    for (const ch of name) h = (h * 31 + ch.codePointAt(0)) >>> 0;
    return AVATAR_COLOURS[h % AVATAR_COLOURS.length];
}

export function createApps({ connection, send, toast }) {
    const powerPanel = createPowerPanel({ parent: $('view-apps'), before: $('view-apps').querySelector('.close-window'), send, toast, text: translated(POWER_TEXT) });

    let appsShown = false;
    let appsTimer = null;

    function appsMessage(text, retry) {
        listMessage('apps-empty', text, retry && requestApps);
    }

    function requestApps() {
        clearTimeout(appsTimer);
        if (!send(appExplore())) {
            renderAppsPlaceholder();
            return;
        }
        appsShown = true;
        if ($('apps-list').children.length === 0) appsMessage('Loading…');
        appsTimer = setTimeout(() => {
            if ($('apps-list').children.length === 0) appsMessage(t('No answer from the PC.'), true);
        }, REPLY_TIMEOUT_MS);
    }

    function renderAppsPlaceholder() {
        if (connection.connected) return;
        clearTimeout(appsTimer);
        $('apps-list').replaceChildren();
        $('apps-count').textContent = '';
        appsMessage(t('Connect to the PC to see its applications.'));
        appsShown = false;
    }

    function renderApps(apps) {
        clearTimeout(appsTimer);
        const items = apps.map((app) => {
            const meta = [baseName(app.path), app.args].filter(Boolean).join(' ');
            const li = listItem(null, 'letter', app.name, meta, false, () => {
                if (send(appOpen(app))) toast(t('Starting {name}', { name: app.name }));
            });
            li.querySelector('.item-icon').style.background = avatarColour(app.name);
            return li;
        });
        $('apps-list').replaceChildren(...items);
        $('apps-count').textContent = apps.length ? t('{count} registered', { count: apps.length }) : '';
        if (apps.length === 0) appsMessage(t('No applications yet. Add them in Velmora on the PC (Desktop App), then press Apply.'));
        else appsMessage('');
    }

    $('apps-refresh').addEventListener('click', requestApps);

    return {
        handle: replyHandler([
            ['appexplore', (params) => renderApps(parseApps(params))],
            [POWER_STATUS, (params) => powerPanel.handleStatus(params)],
            [POWER, (params) => powerPanel.handleReply(params)],
        ]),
        // The link is (back) up: the list is asked for anew when the tab is shown.
        connected() {
            appsShown = false;
            powerPanel.requestStatus();
        },
        // The link is down: no answer is awaited any more, and nothing of the PC is shown.
        disconnected() {
            clearTimeout(appsTimer);
            renderAppsPlaceholder();
        },
        // The tab is shown while connected: its list, unless asked for already.
        load() {
            if (!appsShown) requestApps();
        },
    };
}
