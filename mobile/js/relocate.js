// Finding the PC again after its address changed. While connected the PC
// tells the page its host name and LAN addresses ("paired"); the page keeps
// them beside the pairing code. When the stored address stops answering, the
// page tries <hostname>.local and those addresses and moves to the first that
// answers, carrying the pairing code in the new address's #token= (the new
// origin has a storage of its own). What the PC sent is checked before it is
// kept or used: only a plain host label and dotted IPv4 addresses.

const PC_KEY = 'velmora.pc';
// Addresses kept at most; a PC has a handful of adapters.
export const MAX_ADDRESSES = 8;
// Failed reachability probes in a row before other addresses are tried.
export const PROBES_BEFORE_SEARCH = 2;

const HOST_LABEL = /^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$/;
const IPV4 = /^(?:(?:25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)\.){3}(?:25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)$/;

// params: the "paired" message's; returns what is worth keeping, or null.
export function pcPlaces(params) {
    const host = typeof params?.host === 'string' && HOST_LABEL.test(params.host) ? params.host : null;
    const addresses = Array.isArray(params?.addresses)
        ? [...new Set(params.addresses.filter((a) => typeof a === 'string' && IPV4.test(a)))].slice(0, MAX_ADDRESSES)
        : [];
    return host || addresses.length > 0 ? { host, addresses } : null;
}

export function rememberPc(storage, params) {
    const places = pcPlaces(params);
    if (!places) return false;
    try {
        storage.setItem(PC_KEY, JSON.stringify(places));
        return true;
    } catch {
        return false;
    }
}

export function loadPc(storage) {
    try {
        return pcPlaces(JSON.parse(storage.getItem(PC_KEY)));
    } catch {
        return null;
    }
}

// Where to look, in order: the name first (it follows the PC to any address),
// then the addresses it had; never the address that stopped answering.
export function candidateHosts(places, currentHost, port) {
    if (!places) return [];
    const hosts = [];
    if (places.host) hosts.push(`${places.host}.local:${port}`);
    for (const a of places.addresses) hosts.push(`${a}:${port}`);
    return [...new Set(hosts)].filter((h) => h !== currentHost);
}

// reach(host) → Promise<boolean>; the first host that answers, or null.
export async function findPc(hosts, reach) {
    for (const host of hosts) {
        if (await Promise.resolve(reach(host)).catch(() => false)) return host;
    }
    return null;
}

export function pcUrl(host, token) {
    return `http://${host}/#token=${encodeURIComponent(token)}`;
}
