// Keeps the phone's screen on while it is used as a touch pad, media remote or presenter,
// so that it does not dim and lock in the middle of a film or a talk. Where the
// page may use the Screen Wake Lock API (https, or this PC itself) it asks for
// a screen lock; a plain-http page on the LAN has no such API, and there a
// tiny muted looping video plays inline instead, which browsers treat as
// media being watched. Both end when the page is hidden (the browser drops a
// wake lock then by itself) or when the setting or the tab asks for it.

export const KEEP_AWAKE_TABS = Object.freeze(['pad', 'media', 'present']);

export function wantsScreenOn({ enabled, tab, visible }) {
    return Boolean(enabled) && Boolean(visible) && KEEP_AWAKE_TABS.includes(tab);
}

// The fallback video: small files of the page's own, two formats for the
// browsers that lack one of them. Muted and inline, so that no browser asks
// for a gesture to start sound or opens it full screen.
export function makeKeepAwakeVideo(doc) {
    const video = doc.createElement('video');
    video.muted = true;
    video.defaultMuted = true;
    video.loop = true;
    video.playsInline = true;
    for (const name of ['playsinline', 'muted', 'loop']) video.setAttribute(name, '');
    video.setAttribute('aria-hidden', 'true');
    video.className = 'keep-awake';
    for (const [src, type] of [['media/keep-awake.webm', 'video/webm'], ['media/keep-awake.mp4', 'video/mp4']]) {
        const source = doc.createElement('source');
        source.src = src;
        source.type = type;
        video.append(source);
    }
    doc.body.append(video);
    return video;
}

export class ScreenKeeper {
    // wakeLock: navigator.wakeLock where the page has it (else null);
    // makeVideo: creates the fallback video element on first use.
    constructor({ wakeLock, makeVideo }) {
        this.wakeLock = wakeLock && typeof wakeLock.request === 'function' ? wakeLock : null;
        this.makeVideo = makeVideo;
        this.video = null;
        this.sentinel = null;
        this.wanted = false;
        this.requesting = false;
        this.mode = 'off'; // 'off' | 'wakelock' | 'video'
    }

    // Asks for the screen to stay on, or lets it go; repeated calls are cheap.
    update(wanted) {
        this.wanted = wanted;
        return wanted ? this.#hold() : this.#letGo();
    }

    // A fallback video the browser would not start without a user gesture:
    // called from the page's touch handlers to try again.
    retry() {
        if (this.wanted && this.mode === 'video' && this.video?.paused) return this.#play();
        return Promise.resolve();
    }

    async #hold() {
        if (this.mode !== 'off' || this.requesting) return;
        if (this.wakeLock) {
            this.requesting = true;
            let sentinel = null;
            try {
                sentinel = await this.wakeLock.request('screen');
            } catch {
                sentinel = null; // refused (battery saver, policy): the video stands in
            } finally {
                this.requesting = false;
            }
            if (sentinel) {
                if (!this.wanted) {
                    await sentinel.release().catch(() => {});
                    return;
                }
                this.sentinel = sentinel;
                this.mode = 'wakelock';
                // The browser lets go by itself when the page is hidden; the
                // next update() once it is visible again asks anew.
                sentinel.addEventListener('release', () => {
                    if (this.sentinel !== sentinel) return;
                    this.sentinel = null;
                    this.mode = 'off';
                });
                return;
            }
            if (!this.wanted) return;
        }
        this.video ??= this.makeVideo();
        this.mode = 'video';
        await this.#play();
    }

    async #play() {
        try {
            await this.video.play();
        } catch {
            // Not allowed before a gesture: retry() on the next touch.
        }
        if (!this.wanted || this.mode !== 'video') this.video.pause();
    }

    async #letGo() {
        const sentinel = this.sentinel;
        this.sentinel = null;
        if (this.video) this.video.pause();
        this.mode = 'off';
        if (sentinel) await sentinel.release().catch(() => {});
    }
}
