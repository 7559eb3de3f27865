// The Present tab: the slide keys, and the clock of the talk they start.

import { t } from './i18n.js';
import { TalkClock, formatElapsed, presentCommand } from './present.js';
import { $ } from './page.js';

// `shown()`: whether the tab is in front, the only time its clock needs redrawing.
export function createPresenter({ send, toast, buzz, shown }) {
    const talkClock = new TalkClock();
    function showTalkTime() {
        $('present-time').textContent = formatElapsed(talkClock.elapsed());
    }
    for (const button of document.querySelectorAll('[data-present]')) {
        button.addEventListener('click', () => {
            const what = button.dataset.present;
            if (!send(presentCommand(what))) {
                toast(t('Not connected'));
                return;
            }
            buzz();
            talkClock.press(what);
            showTalkTime();
        });
    }
    window.setInterval(() => {
        if (shown() && talkClock.running) showTalkTime();
    }, 1000);
}
