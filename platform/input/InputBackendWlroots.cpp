#include "platform/input/InputBackendWlrootsPrivate.h"

#include "platform/input/InputBackendStatus.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cerrno>
#include <cstring>

using WlrootsInput::Registry;

namespace {

// The typing keymap goes back to the user's layout once typing has been idle this long.
constexpr int kRestoreLayoutDelayMs = 1000;
// Batches kept while the compositor does not read; beyond this, the oldest moves are dropped.
constexpr size_t kMaxBacklog = 4096;

const wl_registry_listener kRegistryListener = {Registry::global, Registry::globalRemove};

} // namespace

void Registry::global(void* data, wl_registry* registry, quint32 name, const char* interface, quint32 version)
{
    auto* r = static_cast<Registry*>(data);
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        r->sawPointerManager = true;
        if (r->bind && r->pointerManager == nullptr) {
            r->pointerManagerVersion = std::min<quint32>(version, 2);
            r->pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_virtual_pointer_manager_v1_interface, r->pointerManagerVersion));
        }
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        r->sawKeyboardManager = true;
        if (r->bind && r->keyboardManager == nullptr)
            r->keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (r->bind && std::strcmp(interface, wl_seat_interface.name) == 0 && r->seat == nullptr) {
        r->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<quint32>(version, 5)));
    } else if (r->bind && std::strcmp(interface, wl_output_interface.name) == 0 && r->output == nullptr) {
        // The first output announced stands for the primary one.
        r->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min<quint32>(version, 2)));
    }
}

InputBackendWlroots::Private::~Private()
{
    if (activeState)
        activeState.reset();
    activeKeymap.reset();
    userKeymap.reset();
    if (xkb != nullptr)
        xkb_context_unref(xkb);
}

// --- connection ---------------------------------------------------------------------

bool InputBackendWlroots::Private::check()
{
    if (broken)
        return false;
    if (const int error = wl_display_get_error(display)) {
        broken = true;
        qWarning("Wayland input: the compositor closed the connection (%s); remote input stops",
                 std::strerror(error));
        notifier.reset();
        auto* status = InputBackendStatus::instance();
        if (status->kind() == InputBackendKind::Wlroots)
            status->setState(InputBackendStatus::State::Unavailable,
                             QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice",
                                                                 "the compositor closed the connection")));
    }
    return !broken;
}

void InputBackendWlroots::Private::flush()
{
    // Never waits: what the socket cannot take now stays in libwayland's buffer, and
    // nothing more is written until it has drained.
    if (wl_display_flush(display) < 0 && errno == EAGAIN) {
        if (!stalled)
            qWarning("Wayland input: the compositor is not reading; input waits");
        stalled = true;
        congested = true;
        if (writeNotifier)
            writeNotifier->setEnabled(true);
    } else {
        congested = false;
    }
    check();
}

void InputBackendWlroots::Private::enqueue(const QVector<InputRecord>& batch)
{
    // Moves in a row become one, so that the pointer goes straight to where the phone left it
    // once the compositor reads again; keys and clicks keep their place between them.
    if (!backlog.empty() && mergeMoves(backlog.back(), batch)) {
        if (backlog.back().isEmpty())
            backlog.pop_back();
        return;
    }
    if (backlog.size() >= kMaxBacklog) {
        ++dropped;
        // The oldest move gives way, never the newest: that one says where the pointer is
        // to end up, and a phone that stops moving after a stall must not leave it elsewhere.
        const auto move = std::find_if(backlog.begin(), backlog.end(), onlyPointerMoves);
        if (move == backlog.end())
            return; // full of keys and clicks: the newest goes
        backlog.erase(move);
    }
    backlog.push_back(batch);
}

// The socket can take more: sends what waited, as far as it goes.
void InputBackendWlroots::Private::drain()
{
    if (!check())
        return;
    flush();
    while (!congested && !broken && !backlog.empty()) {
        const QVector<InputRecord> batch = std::move(backlog.front());
        backlog.pop_front();
        emitBatch(batch);
        flush();
    }
    if (congested || broken)
        return;
    if (writeNotifier)
        writeNotifier->setEnabled(false);
    if (stalled)
        qInfo("Wayland input: the compositor reads again (%llu batches dropped meanwhile)",
              static_cast<unsigned long long>(dropped));
    stalled = false;
    dropped = 0;
    if (restoreWhenDrained) {
        restoreWhenDrained = false;
        useUserLayout();
    }
}

void InputBackendWlroots::Private::readEvents()
{
    // Reads only what is there: wl_display_dispatch would first wait for a congested
    // socket to drain.
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            check();
            return;
        }
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
        check();
}

InputBackendWlroots::Globals InputBackendWlroots::probe()
{
    Globals found;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return found;
    Registry r;
    r.bind = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &r);
    wl_display_roundtrip(display);
    found.virtualPointer = r.sawPointerManager;
    found.virtualKeyboard = r.sawKeyboardManager;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

InputBackendWlroots::InputBackendWlroots(std::unique_ptr<Private> p)
    : d(std::move(p))
{
    d->restoreTimer.setSingleShot(true);
    d->restoreTimer.setInterval(kRestoreLayoutDelayMs);
    QObject::connect(&d->restoreTimer, &QTimer::timeout, [this] { restoreLayout(); });
    // Events from the compositor are few (errors, output changes, keymaps); they are read as
    // they come.
    d->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, [this] { d->readEvents(); });
    d->writeNotifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Write);
    d->writeNotifier->setEnabled(false);
    QObject::connect(d->writeNotifier.get(), &QSocketNotifier::activated, [this] { d->drain(); });
    d->emitBatch = [this](const QVector<InputRecord>& batch) {
        emitBatch(batch);
    };
    d->opened = true;
    d->watchSeatKeyboard();
    d->flush();
}

std::unique_ptr<InputBackendWlroots> InputBackendWlroots::open()
{
    auto d = std::make_unique<Private>();
    d->display = wl_display_connect(nullptr);
    if (d->display == nullptr)
        return nullptr;
    const auto fail = [&d](const char* why) {
        qWarning("Wayland input: %s", why);
        wl_display_disconnect(d->display);
        return nullptr;
    };
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &kRegistryListener, &d->globals);
    wl_display_roundtrip(d->display);
    Registry& g = d->globals;
    if (g.pointerManager == nullptr || g.keyboardManager == nullptr)
        return fail("the compositor offers no virtual pointer and keyboard");
    if (g.seat == nullptr)
        return fail("the compositor offers no seat");
    wl_seat_add_listener(g.seat, Private::seatListener(), d.get());
    if (g.output != nullptr)
        wl_output_add_listener(g.output, Private::outputListener(), d.get());
    wl_display_roundtrip(d->display); // seat capabilities and output modes
    if (d->seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) {
        d->watchSeatKeyboard();
        wl_display_roundtrip(d->display); // the keymap
    }

    d->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (d->xkb == nullptr)
        return fail("cannot create a keymap context");
    d->loadUserKeymap();
    if (!d->userKeymap)
        return fail("no keyboard layout could be compiled");

    // Bound to the output, absolute moves cover that output rather than the whole desktop.
    if (g.pointerManagerVersion >= 2 && g.output != nullptr)
        d->pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer_with_output(g.pointerManager,
                                                                                        g.seat, g.output);
    else
        d->pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointerManager, g.seat);
    d->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.keyboardManager, g.seat);
    d->seedTypingSyms();
    d->upload(d->userKeymapText);
    wl_display_roundtrip(d->display);
    if (wl_display_get_error(d->display) != 0)
        return fail("the compositor refused the virtual pointer or keyboard");
    const QSize size = d->transformedOutputSize();
    qInfo("Wayland input: virtual pointer (v%u) and keyboard on %s, output %dx%d", g.pointerManagerVersion,
          qPrintable(qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"))), size.width(),
          size.height());
    return std::unique_ptr<InputBackendWlroots>(new InputBackendWlroots(std::move(d)));
}

InputBackendWlroots::~InputBackendWlroots()
{
    d->notifier.reset();
    d->writeNotifier.reset();
    d->backlog.clear();
    if (!d->broken && !d->congested) {
        // Nothing stays pressed after we are gone.
        d->releaseHeldKeys();
        const QSet<quint32> buttons = d->heldButtons;
        for (quint32 b : buttons)
            d->button(b, false);
        if (!buttons.isEmpty())
            zwlr_virtual_pointer_v1_frame(d->pointer);
        zwlr_virtual_pointer_v1_destroy(d->pointer);
        zwp_virtual_keyboard_v1_destroy(d->keyboard);
        d->pointer = nullptr;
        d->keyboard = nullptr;
        if (d->seatKeyboard != nullptr &&
            wl_keyboard_get_version(d->seatKeyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(d->seatKeyboard);
            d->seatKeyboard = nullptr;
        }
        // Sent without waiting for an answer: a compositor that hangs must not hold up the exit.
        wl_display_flush(d->display);
    }
    // Our side of what is left; the compositor drops its side with the connection.
    const Registry& g = d->globals;
    for (void* proxy : {static_cast<void*>(d->pointer), static_cast<void*>(d->keyboard),
                        static_cast<void*>(d->seatKeyboard), static_cast<void*>(g.pointerManager),
                        static_cast<void*>(g.keyboardManager), static_cast<void*>(g.output),
                        static_cast<void*>(g.seat), static_cast<void*>(d->registry)}) {
        if (proxy != nullptr)
            wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
    }
    wl_display_disconnect(d->display);
}

void InputBackendWlroots::send(const QVector<InputRecord>& records)
{
    if (!d->check())
        return;
    if (d->congested || !d->backlog.empty()) {
        d->enqueue(records);
        return;
    }
    emitBatch(records);
    d->flush();
}

bool InputBackendWlroots::congested() const
{
    return d->congested;
}

void InputBackendWlroots::emitBatch(const QVector<InputRecord>& records)
{
    bool pointerFrame = false;
    QSize screen;
    d->lookAhead(records);
    for (const InputRecord& record : records) {
        if (record.type == InputRecord::Keyboard) {
            d->key(record);
            continue;
        }
        if (screen.isEmpty() && (record.flags & InputRecord::Absolute))
            screen = primaryScreenSize();
        pointerFrame = d->mouse(record, screen) || pointerFrame;
    }
    if (pointerFrame)
        zwlr_virtual_pointer_v1_frame(d->pointer);
}

QSize InputBackendWlroots::primaryScreenSize()
{
    if (d->outputReady && !d->outputSize.isEmpty())
        return d->transformedOutputSize();
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (QScreen* screen = app->primaryScreen())
            return screen->size() * screen->devicePixelRatio();
    }
    return QSize(1920, 1080);
}

void InputBackendWlroots::restoreLayout()
{
    if (d->check())
        d->useUserLayout();
}

bool InputBackendWlroots::typingLayoutActive() const
{
    return d->typingActive;
}
