// User preferences of the phone client, kept in localStorage. Stored values
// are checked on the way in: a hand-edited or stale entry must not make the
// pointer unusable (a sensitivity of 0 or NaN would freeze it).

export const SETTINGS_KEY = 'velmora.settings';

export const SETTING_LIMITS = Object.freeze({
    sensitivity: { min: 0.3, max: 5, step: 0.1, fallback: 1.6 },
    scrollSpeed: { min: 0.3, max: 3, step: 0.1, fallback: 1 },
});

export const DEFAULT_SETTINGS = Object.freeze({
    sensitivity: SETTING_LIMITS.sensitivity.fallback,
    scrollSpeed: SETTING_LIMITS.scrollSpeed.fallback,
    naturalScroll: true,
    haptics: true,
    keepScreenOn: true,
});

function clampNumber(value, { min, max, fallback }) {
    const n = typeof value === 'number' ? value : Number.parseFloat(value);
    if (!Number.isFinite(n)) return fallback;
    return Math.min(Math.max(n, min), max);
}

export function sanitizeSettings(raw) {
    const s = raw !== null && typeof raw === 'object' ? raw : {};
    return {
        sensitivity: clampNumber(s.sensitivity, SETTING_LIMITS.sensitivity),
        scrollSpeed: clampNumber(s.scrollSpeed, SETTING_LIMITS.scrollSpeed),
        naturalScroll: typeof s.naturalScroll === 'boolean' ? s.naturalScroll : DEFAULT_SETTINGS.naturalScroll,
        haptics: typeof s.haptics === 'boolean' ? s.haptics : DEFAULT_SETTINGS.haptics,
        keepScreenOn: typeof s.keepScreenOn === 'boolean' ? s.keepScreenOn : DEFAULT_SETTINGS.keepScreenOn,
    };
}

export function loadSettings(storage) {
    try {
        const text = storage.getItem(SETTINGS_KEY);
        return sanitizeSettings(text ? JSON.parse(text) : null);
    } catch {
        return sanitizeSettings(null);
    }
}

export function saveSettings(storage, settings) {
    const clean = sanitizeSettings(settings);
    try {
        storage.setItem(SETTINGS_KEY, JSON.stringify(clean));
    } catch {
        // private mode or full storage: the choice lasts for this visit only
    }
    return clean;
}
