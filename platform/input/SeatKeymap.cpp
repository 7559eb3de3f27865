#include "platform/input/SeatKeymap.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

struct SeatKeymap::Private
{
    SeatKeymap* q = nullptr;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    quint32 seatName = 0;
    quint32 seatVersion = 0;
    wl_keyboard* keyboard = nullptr;
    xkb_context* xkb = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    KeymapKeys live;
    bool isLive = false;
    bool saidFallback = false;

    ~Private() { disconnect(); }

    bool connect(const QByteArray& name);
    void disconnect();
    void readEvents();
    void flush();
    void fail(const char* why);
    void releaseKeyboard();
    void takeKeymap(const std::string& text);

    static void global(void* data, wl_registry*, quint32 name, const char* interface, quint32 version);
    static void globalRemove(void* data, wl_registry*, quint32 name);
    static void capabilities(void* data, wl_seat*, quint32 caps);
    static void seatNamed(void*, wl_seat*, const char*) {}
    static void keymap(void* data, wl_keyboard*, quint32 format, int fd, quint32 size);
    static void enter(void*, wl_keyboard*, quint32, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, quint32, wl_surface*) {}
    static void key(void*, wl_keyboard*, quint32, quint32, quint32, quint32) {}
    static void modifiers(void*, wl_keyboard*, quint32, quint32, quint32, quint32, quint32) {}
    static void repeatInfo(void*, wl_keyboard*, qint32, qint32) {}
    static const wl_registry_listener registryListener;
    static const wl_seat_listener seatListener;
    static const wl_keyboard_listener keyboardListener;
};

namespace {

// wl_keyboard.release came with version 3; up to 5 the listener knows every event.
constexpr quint32 kMaxSeatVersion = 5;

} // namespace

const wl_registry_listener SeatKeymap::Private::registryListener = {global, globalRemove};
const wl_seat_listener SeatKeymap::Private::seatListener = {capabilities, seatNamed};
const wl_keyboard_listener SeatKeymap::Private::keyboardListener = {keymap, enter,     leave,
                                                                    key,    modifiers, repeatInfo};

bool SeatKeymap::Private::connect(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    display = wl_display_connect(name.constData());
    if (display == nullptr)
        return false;
    xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (xkb == nullptr) {
        disconnect();
        return false;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, this);
    // The seat, its keyboard and the keymap come as answers, read when they arrive.
    notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, q, [this] { readEvents(); });
    flush();
    return display != nullptr;
}

void SeatKeymap::Private::disconnect()
{
    notifier.reset();
    if (keyboard != nullptr)
        wl_keyboard_destroy(keyboard);
    keyboard = nullptr;
    if (seat != nullptr)
        wl_seat_destroy(seat);
    seat = nullptr;
    if (registry != nullptr)
        wl_registry_destroy(registry);
    registry = nullptr;
    if (display != nullptr)
        wl_display_disconnect(display);
    display = nullptr;
    if (xkb != nullptr)
        xkb_context_unref(xkb);
    xkb = nullptr;
}

void SeatKeymap::Private::flush()
{
    // Our requests are a handful of bytes: a full socket means a compositor that reads nothing,
    // and what is left goes with the next read.
    if (display != nullptr && wl_display_flush(display) < 0 && errno != EAGAIN)
        fail("the connection to the compositor failed");
}

void SeatKeymap::Private::readEvents()
{
    if (display == nullptr)
        return;
    // Reads only what is there: wl_display_dispatch could wait.
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            fail("the connection to the compositor failed");
            return;
        }
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
        fail("the connection to the compositor failed");
        return;
    }
    flush();
}

void SeatKeymap::Private::fail(const char* why)
{
    // Called from inside a dispatch and the notifier's signal: the connection goes once the
    // event loop is back.
    if (notifier)
        notifier->setEnabled(false);
    QMetaObject::invokeMethod(
        q, [this] { disconnect(); }, Qt::QueuedConnection);
    const bool wasLive = isLive;
    isLive = false;
    live = KeymapKeys();
    qWarning("Keyboard layout: %s; keys are chosen from the default layout", why);
    saidFallback = true;
    if (wasLive)
        emit q->changed();
}

void SeatKeymap::Private::releaseKeyboard()
{
    if (keyboard == nullptr)
        return;
    if (seatVersion >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else
        wl_keyboard_destroy(keyboard);
    keyboard = nullptr;
}

void SeatKeymap::Private::global(void* data, wl_registry* registry, quint32 name, const char* interface,
                                 quint32 version)
{
    auto* d = static_cast<Private*>(data);
    // The first seat: desktops have one.
    if (d->seat != nullptr || std::strcmp(interface, wl_seat_interface.name) != 0)
        return;
    d->seatVersion = std::min(version, kMaxSeatVersion);
    d->seatName = name;
    d->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, d->seatVersion));
    wl_seat_add_listener(d->seat, &seatListener, d);
}

void SeatKeymap::Private::globalRemove(void* data, wl_registry*, quint32 name)
{
    auto* d = static_cast<Private*>(data);
    if (d->seat == nullptr || name != d->seatName)
        return;
    // The keymap seen last stays: it is still the desktop's layout.
    d->releaseKeyboard();
    if (d->seatVersion >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(d->seat);
    else
        wl_seat_destroy(d->seat);
    d->seat = nullptr;
}

void SeatKeymap::Private::capabilities(void* data, wl_seat* seat, quint32 caps)
{
    auto* d = static_cast<Private*>(data);
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && d->keyboard == nullptr) {
        d->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(d->keyboard, &keyboardListener, d);
    } else if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) == 0) {
        // Its keymap, kept, is still the one the desktop types with.
        d->releaseKeyboard();
    }
}

void SeatKeymap::Private::keymap(void* data, wl_keyboard*, quint32 format, int fd, quint32 size)
{
    auto* d = static_cast<Private*>(data);
    std::string text;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        text = readKeymapText(fd, size);
    if (fd >= 0)
        ::close(fd);
    d->takeKeymap(text);
}

void SeatKeymap::Private::takeKeymap(const std::string& text)
{
    xkb_keymap* keymap = text.empty()
                             ? nullptr
                             : xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
    KeymapKeys keys(keymap);
    xkb_keymap_unref(keymap);
    // A keymap without a layout would count every character as typeable.
    if (keys.layoutCount() == 0) {
        // The keymap before stays, if any: one unreadable change is no reason to forget it.
        qWarning("Keyboard layout: the compositor's keymap could not be read");
        return;
    }
    live = std::move(keys);
    isLive = true;
    emit q->changed();
}

SeatKeymap::SeatKeymap(const QByteArray& display, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->q = this;
    if (!d->connect(display)) {
        qInfo("Keyboard layout: no Wayland display; keys are chosen from the default layout");
        d->saidFallback = true;
    }
}

SeatKeymap::~SeatKeymap() = default;

bool SeatKeymap::isLive() const
{
    return d->isLive;
}

const KeymapKeys& SeatKeymap::keys() const
{
    return d->isLive ? d->live : KeymapKeys::defaultLayout();
}

bool SeatKeymap::typesCharacter(char32_t character) const
{
    return keys().holdsCharacterInEveryLayout(character);
}

std::string SeatKeymap::readKeymapText(int fd, quint32 size)
{
    struct stat info
    {
    };
    // Only a regular file (shared memory is one) of at least the size told: reading a pipe could
    // wait, and a mapping past the file's end would fault. Read, not mapped: a file that shrinks
    // meanwhile yields a short read, never a fault.
    if (fd < 0 || size == 0 || size > MaxKeymapBytes || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < off_t(size))
        return {};
    std::string text(size, '\0');
    quint32 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, &text[done], size - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        done += quint32(n);
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}
