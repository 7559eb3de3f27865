// The web client's languages: which one a browser gets, the placeholders, and that the Chinese
// table covers every English text of the page and the scripts, in the PC window's own words.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';

import { ZH_CN, language, pickLanguage, setLanguage, t } from '../../mobile/js/i18n.js';
import { ARROW_KEYS, COMBOS, MEDIA_KEYS, SPECIAL_KEYS } from '../../mobile/js/keyboard.js';
import { NOW_PLAYING_TEXT } from '../../mobile/js/nowplaying-view.js';
import { DESK_TEXT } from '../../mobile/js/desk-view.js';
import { BUTTONS_TEXT } from '../../mobile/js/buttons-view.js';
import { POWER_TEXT } from '../../mobile/js/power-view.js';

const read = (file) => fs.readFileSync(new URL(`../../${file}`, import.meta.url), 'utf8');

describe('the language follows the browser', () => {
    const cases = [
        [['zh-CN', 'zh', 'en'], 'zh-CN'],
        [['zh'], 'zh-CN'],
        [['zh-Hans-HK'], 'zh-CN'],
        [['zh_SG'], 'zh-CN'],
        [['zh-TW', 'zh'], 'zh-CN'],
        [['zh-TW', 'en-US'], 'en'],
        [['zh-Hant'], 'en'],
        [['en-GB', 'zh-CN'], 'en'],
        [['de-DE', 'zh-CN'], 'zh-CN'],
        [['fr-FR', 'de'], 'en'],
        [[], 'en'],
        [undefined, 'en'],
    ];
    for (const [languages, expected] of cases) {
        test(`${JSON.stringify(languages)} → ${expected}`, () => assert.equal(pickLanguage(languages), expected));
    }
});

test('texts, placeholders and the fallback to English', () => {
    assert.equal(setLanguage('zh-CN'), 'zh-CN');
    assert.equal(t('Opening {name}', { name: '{count} song.mp3' }), '正在打开 {count} song.mp3');
    assert.equal(t('offline · retry in {seconds} s', { seconds: 3 }), '离线 · 3 秒后重试');
    assert.equal(t('a text nobody translated'), 'a text nobody translated');
    assert.equal(setLanguage('fr'), 'en');
    assert.equal(language(), 'en');
    assert.equal(t('Opening {name}', { name: 'a' }), 'Opening a');
    assert.equal(t('{count} registered', {}), '{count} registered');
});

// Every English text the user may see: t('…') in the scripts, data-i18n and data-i18n-attr in the
// page, and the words of the key tables and the now-playing bar that the page passes through t().
function englishTexts() {
    const texts = new Set();
    for (const file of fs.readdirSync(new URL('../../mobile/js/', import.meta.url))) {
        if (!file.endsWith('.js') || file === 'i18n.js') continue;
        for (const [, quoted] of read(`mobile/js/${file}`).matchAll(/\bt\(\s*'((?:[^'\\]|\\.)*)'/g)) texts.add(quoted.replace(/\\'/g, "'"));
    }
    const html = read('mobile/index.html');
    for (const [, tag, content] of html.matchAll(/<([^>]*\bdata-i18n\b(?!-)[^>]*)>([^<]*)</g)) {
        const explicit = /\bdata-i18n="([^"]+)"/.exec(tag)?.[1];
        texts.add((explicit ?? content).trim().replace(/\s+/g, ' ').replace(/&apos;|&#39;/g, "'"));
    }
    for (const [, tag] of html.matchAll(/<([^>]*\bdata-i18n-attr="[^"]*"[^>]*)>/g)) {
        for (const attribute of /data-i18n-attr="([^"]*)"/.exec(tag)[1].split(/\s+/)) {
            texts.add(new RegExp(`\\s${attribute}="([^"]*)"`).exec(tag)[1]);
        }
    }
    for (const key of [...SPECIAL_KEYS, ...ARROW_KEYS]) if (key.title) texts.add(key.title);
    for (const key of [...COMBOS, ...MEDIA_KEYS]) texts.add(key.label);
    for (const text of Object.values(NOW_PLAYING_TEXT)) texts.add(text);
    for (const text of Object.values(DESK_TEXT)) texts.add(text);
    for (const text of Object.values(BUTTONS_TEXT)) texts.add(text);
    for (const text of Object.values(POWER_TEXT)) texts.add(text);
    return texts;
}

test('the Chinese table has every text and no stale ones', () => {
    const texts = englishTexts();
    assert.ok(texts.size > 60, `found only ${texts.size} texts: is the scan still right?`);
    assert.deepEqual([...texts].filter((text) => !(text in ZH_CN)), [], 'texts without Chinese');
    assert.deepEqual(Object.keys(ZH_CN).filter((text) => !texts.has(text)), [], 'Chinese for texts no longer used');
    for (const [english, chinese] of Object.entries(ZH_CN)) {
        const names = (text) => [...text.matchAll(/\{(\w+)\}/g)].map((m) => m[1]).sort();
        assert.deepEqual(names(chinese), names(english), `placeholders of ${english}`);
    }
});

// The PC window's translation, read from its .ts file: context → English → Chinese.
function desktopChinese() {
    const words = {};
    for (const [, context, body] of read('translations/velmora_zh_CN.ts').matchAll(/<name>([^<]*)<\/name>([\s\S]*?)<\/context>/g)) {
        for (const [, source, translation] of body.matchAll(/<source>([^<]*)<\/source>\s*<translation>([^<]*)<\/translation>/g)) {
            (words[context] ??= {})[source] = translation;
        }
    }
    return words;
}

test('the same things have the same names as on the PC', () => {
    const pc = desktopChinese();
    const shared = [
        // web text, the window's context and text whose translation it must contain
        ['Settings', 'MainWindow', 'Setting'],
        ['Save', 'DesktopAppEditView', 'Save'],
        ['No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.', 'MainWindow', 'Media Library'],
        ['No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.', 'MediaLibraryView', 'Apply'],
        ['No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.', 'AboutView', 'Velmora'],
        ['No applications yet. Add them in Velmora on the PC (Desktop App), then press Apply.', 'MainWindow', 'Desktop App'],
        ['No applications yet. Add them in Velmora on the PC (Desktop App), then press Apply.', 'DesktopAppView', 'Apply'],
        ['Media folders', 'MediaFolderEditView', 'Select Media Folder'],
    ];
    for (const [web, context, source] of shared) {
        const word = pc[context]?.[source];
        assert.ok(word, `the PC translates [${context}] ${source}`);
        const core = context === 'MediaFolderEditView' ? word.replace(/^选择/, '') : word;
        assert.ok(ZH_CN[web].includes(core), `${JSON.stringify(ZH_CN[web])} uses the PC's ${JSON.stringify(core)}`);
    }
});
