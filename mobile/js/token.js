// The pairing token: 32 lowercase hex characters. It arrives in the page's
// fragment (#token=<hex>, never sent to the server in the page request), is
// kept in localStorage so later visits work without it, and is removed from
// the visible address so it does not end up in screenshots or shared links.

export const TOKEN_KEY = 'velmora.token';
const TOKEN_RE = /^[0-9a-f]{32}$/;

export function isValidToken(text) {
    return typeof text === 'string' && TOKEN_RE.test(text);
}

function normalise(text) {
    const t = String(text ?? '').trim().toLowerCase();
    return isValidToken(t) ? t : null;
}

// "#token=…&tab=keys" → Map of its keys. Accepts the hash with or without "#".
export function parseFragment(hash) {
    const text = String(hash ?? '').replace(/^#/, '');
    const map = new Map();
    if (text === '') return map;
    for (const [key, value] of new URLSearchParams(text)) {
        if (!map.has(key)) map.set(key, value);
    }
    return map;
}

export function tokenFromFragment(hash) {
    const value = parseFragment(hash).get('token');
    return value === undefined ? null : normalise(value);
}

// The fragment as it should stay visible: the same keys without "token".
export function fragmentWithoutToken(hash) {
    const params = new URLSearchParams(String(hash ?? '').replace(/^#/, ''));
    params.delete('token');
    const rest = params.toString();
    return rest === '' ? '' : `#${rest}`;
}

// What the user pasted into the pair field: the whole pairing address, a
// "token=…" fragment or the bare token.
export function extractToken(text) {
    const s = String(text ?? '').trim();
    if (s === '' || s.length > 2048) return null;
    const direct = normalise(s);
    if (direct) return direct;
    const hashAt = s.indexOf('#');
    if (hashAt >= 0) {
        const fromHash = tokenFromFragment(s.slice(hashAt));
        if (fromHash) return fromHash;
    }
    const m = /(?:^|[?&#\s])token=([0-9a-fA-F]{32})(?![0-9a-fA-F])/.exec(s);
    return m ? m[1].toLowerCase() : null;
}

// storage: a localStorage-like object. Storage can throw (private mode, quota)
// and the stored text may be anything, so both are guarded.
export function loadToken(storage) {
    try {
        return normalise(storage.getItem(TOKEN_KEY));
    } catch {
        return null;
    }
}

export function saveToken(storage, token) {
    const t = normalise(token);
    if (!t) return false;
    try {
        storage.setItem(TOKEN_KEY, t);
        return true;
    } catch {
        return false;
    }
}

export function forgetToken(storage) {
    try {
        storage.removeItem(TOKEN_KEY);
    } catch {
        // nothing stored then
    }
}

// At page load: a token in the fragment wins and is stored; otherwise the
// stored one is used. `cleanHash` is what the address bar should show.
export function resolveToken(hash, storage) {
    const fromFragment = tokenFromFragment(hash);
    const hadTokenKey = parseFragment(hash).has('token');
    if (fromFragment) saveToken(storage, fromFragment);
    return {
        token: fromFragment ?? loadToken(storage),
        fromFragment: fromFragment !== null,
        cleanHash: hadTokenKey ? fragmentWithoutToken(hash) : null,
    };
}
