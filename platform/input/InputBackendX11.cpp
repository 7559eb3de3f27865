#include "platform/input/InputBackendX11.h"
#include "platform/input/InputDecoding.h"
#include "platform/input/Keysyms.h"

#include <QDebug>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

// X headers last: they define macros (None, Bool, KeyPress...) that clash with Qt names.
#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Absolute // our record flag shares the name

namespace {

// Spare keycodes go back to unmapped once typing has been idle this long; clients that
// read the keymap lazily must still find the character when they handle the key event.
constexpr int kSpareRestoreDelayMs = 1000;
// A spare keycode is given a new character only this long after it was last typed: a client
// that reads the keymap when it handles a key (Xlib does, after a mapping change) must have
// handled the events typed with the previous character by then, or it sees the new one
// (100 ms was too short for a loaded xterm; 500 ms matches the old per-character pace).
// Typing is not paced otherwise, so the wait is counted from the spare's last use: a text
// with more distinct missing characters than there are spares types at about this many
// spares per this long, any other text at full speed. Such a text is pasted where it can be.
constexpr int kSpareRemapSettleMs = 500;
// Every keymap change makes every X client read the keymap again; a text that keeps changing
// it is held to this pace, so that the focused client keeps up (characters on the layout and
// those already on a spare key are not paced).
constexpr int kKeymapChangePaceMs = 5;
constexpr unsigned int kButtonLeft = 1;
constexpr unsigned int kButtonMiddle = 2;
constexpr unsigned int kButtonRight = 3;
constexpr unsigned int kButtonWheelUp = 4;
constexpr unsigned int kButtonWheelDown = 5;

int onXError(Display* display, XErrorEvent* event)
{
    char text[256] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    qWarning("X11 input: X error %d (%s), request %d.%d", int(event->error_code), text,
             int(event->request_code), int(event->minor_code));
    return 0;
}

// Xlib's default error handler ends the process; our requests report errors instead. A
// syncing trap waits for the X server before it goes, so every error of its requests arrives
// while it is in place. A flushing trap spares that round trip; an error of its requests then
// comes in at the next trap's look at the connection and is reported there (the connection is
// only ever used inside a trap).
class ErrorTrap
{
public:
    enum class Finish
    {
        Sync,
        Flush
    };
    explicit ErrorTrap(Display* display, Finish finish = Finish::Sync)
        : m_display(display)
        , m_finish(finish)
        , m_previous(XSetErrorHandler(onXError))
    {
    }
    ~ErrorTrap()
    {
        if (m_finish == Finish::Sync)
            XSync(m_display, False);
        else
            XFlush(m_display);
        XSetErrorHandler(m_previous);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    Display* m_display;
    Finish m_finish;
    XErrorHandler m_previous;
};

int clampToX(double value)
{
    // X coordinates and motion deltas travel as 16-bit signed values.
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::clamp(value, -32768.0, 32767.0));
}

} // namespace

struct InputBackendX11::Private
{
    Display* display = nullptr;
    QVector<KeyCode> spares;
    struct SpareUse
    {
        KeySym sym = NoSymbol;
        quint64 lastUse = 0;
        qint64 lastUseMs = 0; // monotonic
    };
    QHash<KeyCode, SpareUse> mapped;
    QSet<KeyCode> heldKeys;
    unsigned int heldButtons = 0; // bit per X button
    quint64 useCounter = 0;
    qint64 lastKeymapChangeMs = 0; // monotonic
    QTimer restoreTimer;
    TypedUnitJoiner joiner;
    WheelSteps wheel;

    static qint64 nowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void drainEvents()
    {
        // Keeps Xlib's keymap cache current when the user switches layouts.
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MappingNotify)
                XRefreshKeyboardMapping(&event.xmapping);
        }
    }

    KeyCode spareFor(KeySym sym)
    {
        for (auto it = mapped.begin(); it != mapped.end(); ++it) {
            if (it.value().sym == sym) {
                it.value().lastUse = ++useCounter;
                it.value().lastUseMs = nowMs();
                restoreTimer.start();
                return it.key();
            }
        }
        KeyCode chosen = 0;
        for (KeyCode code : spares) {
            if (!mapped.contains(code)) {
                chosen = code;
                break;
            }
        }
        bool reused = false;
        if (chosen == 0) {
            quint64 oldest = ~quint64(0);
            for (auto it = mapped.cbegin(); it != mapped.cend(); ++it) {
                if (!heldKeys.contains(it.key()) && it.value().lastUse < oldest) {
                    oldest = it.value().lastUse;
                    chosen = it.key();
                }
            }
            reused = chosen != 0;
        }
        if (chosen == 0)
            return 0;
        if (reused) {
            const qint64 age = nowMs() - mapped.value(chosen).lastUseMs;
            if (age < kSpareRemapSettleMs) {
                XSync(display, False);
                QThread::msleep(static_cast<unsigned long>(kSpareRemapSettleMs - age));
            }
        }
        // Both shift levels carry the symbol, so a held Shift or Caps Lock cannot change it.
        // The server handles the change before the key events that follow it on this
        // connection, so no round trip is needed here.
        KeySym syms[2] = {sym, sym};
        if (lastKeymapChangeMs != 0 && nowMs() - lastKeymapChangeMs < kKeymapChangePaceMs) {
            XSync(display, False);
            const qint64 wait = kKeymapChangePaceMs - (nowMs() - lastKeymapChangeMs);
            if (wait > 0)
                QThread::msleep(static_cast<unsigned long>(wait));
        }
        XChangeKeyboardMapping(display, chosen, 2, syms, 1);
        lastKeymapChangeMs = nowMs();
        mapped.insert(chosen, SpareUse{sym, ++useCounter, lastKeymapChangeMs});
        restoreTimer.start();
        return chosen;
    }

    bool onSpare(KeySym sym) const
    {
        for (auto it = mapped.cbegin(); it != mapped.cend(); ++it) {
            if (it.value().sym == sym)
                return true;
        }
        return false;
    }

    // The layout's keycode for a keysym, 0 if none; with `exactLevel` only one that yields the
    // keysym without or with Shift (told by `shift`), as typing needs.
    KeyCode layoutKeycode(KeySym sym, bool exactLevel, bool* shift) const
    {
        const KeyCode code = XKeysymToKeycode(display, sym);
        if (code == 0 || spares.contains(code))
            return 0;
        if (!exactLevel || XkbKeycodeToKeysym(display, code, 0, 0) == sym)
            return code;
        if (XkbKeycodeToKeysym(display, code, 0, 1) == sym) {
            *shift = true;
            return code;
        }
        return 0;
    }

    // The keycode for a keysym, falling back to a spare keycode.
    KeyCode keycodeFor(KeySym sym, bool exactLevel, bool* shift)
    {
        if (onSpare(sym))
            return spareFor(sym);
        if (const KeyCode code = layoutKeycode(sym, exactLevel, shift))
            return code;
        return spareFor(sym);
    }

    void pressButton(unsigned int button, bool down)
    {
        XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
        if (down)
            heldButtons |= 1u << button;
        else
            heldButtons &= ~(1u << button);
    }

    void typeCodePoint(char32_t codePoint)
    {
        const KeySym sym = keysymForCodePoint(codePoint);
        if (sym == 0)
            return;
        bool shift = false;
        const KeyCode code = keycodeFor(sym, true, &shift);
        if (code == 0) {
            qWarning("X11 input: no free keycode to type a character"); // not which: typed text stays private
            return;
        }
        const KeyCode shiftCode = shift ? XKeysymToKeycode(display, XK_Shift_L) : 0;
        if (shiftCode != 0)
            XTestFakeKeyEvent(display, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        if (shiftCode != 0)
            XTestFakeKeyEvent(display, shiftCode, False, CurrentTime);
    }

    void key(const InputRecord& record)
    {
        const bool up = (record.flags & InputRecord::KeyUp) != 0;
        if (record.flags & InputRecord::Unicode) {
            // The character is typed whole on the press; the release has nothing left to do.
            if (!up) {
                if (const char32_t codePoint = joiner.take(record.scan))
                    typeCodePoint(codePoint);
            }
            return;
        }
        const KeySym sym = keysymForVirtualKey(record.vk);
        if (sym == 0) {
            qDebug("X11 input: virtual key 0x%02x has no X key", unsigned(record.vk));
            return;
        }
        bool shift = false;
        const KeyCode code = keycodeFor(sym, false, &shift);
        if (code == 0) {
            qWarning("X11 input: no free keycode for virtual key 0x%02x", unsigned(record.vk));
            return;
        }
        XTestFakeKeyEvent(display, code, up ? False : True, CurrentTime);
        if (up)
            heldKeys.remove(code);
        else
            heldKeys.insert(code);
    }

    void mouse(const InputRecord& record, const QRect& screen)
    {
        const std::uint32_t f = record.flags;
        if (f & InputRecord::MouseMove) {
            if (f & InputRecord::Absolute) {
                const double scaleX = std::max(screen.width() - 1, 0) / double(InputRecord::AbsoluteMax);
                const double scaleY = std::max(screen.height() - 1, 0) / double(InputRecord::AbsoluteMax);
                XTestFakeMotionEvent(display, -1, clampToX(std::round(record.dx * scaleX) + screen.x()),
                                     clampToX(std::round(record.dy * scaleY) + screen.y()), CurrentTime);
            } else if (record.dx != 0 || record.dy != 0) {
                XTestFakeRelativeMotionEvent(display, clampToX(record.dx), clampToX(record.dy), CurrentTime);
            }
        }
        if (f & InputRecord::LeftDown)
            pressButton(kButtonLeft, true);
        if (f & InputRecord::LeftUp)
            pressButton(kButtonLeft, false);
        if (f & InputRecord::RightDown)
            pressButton(kButtonRight, true);
        if (f & InputRecord::RightUp)
            pressButton(kButtonRight, false);
        if (f & InputRecord::MiddleDown)
            pressButton(kButtonMiddle, true);
        if (f & InputRecord::MiddleUp)
            pressButton(kButtonMiddle, false);
        if (f & InputRecord::Wheel) {
            // X has no wheel distance, only clicks of buttons 4 (away) and 5 (towards).
            const int clicks = wheel.take(record.mouseData);
            const unsigned int button = clicks > 0 ? kButtonWheelUp : kButtonWheelDown;
            for (int i = 0; i < std::abs(clicks); ++i) {
                XTestFakeButtonEvent(display, button, True, CurrentTime);
                XTestFakeButtonEvent(display, button, False, CurrentTime);
            }
        }
    }
};

InputBackendX11::InputBackendX11(std::unique_ptr<Private> p)
    : d(std::move(p))
{
    d->restoreTimer.setSingleShot(true);
    d->restoreTimer.setInterval(kSpareRestoreDelayMs);
    QObject::connect(&d->restoreTimer, &QTimer::timeout, [this] { restoreSpareKeys(); });
}

std::unique_ptr<InputBackendX11> InputBackendX11::open()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        qWarning("X11 input: the X server %s lacks the XTEST extension", DisplayString(display));
        XCloseDisplay(display);
        return nullptr;
    }
    auto d = std::make_unique<Private>();
    d->display = display;
    // Our events must get through even while another client grabs the server.
    XTestGrabControl(display, True);

    // Keycodes without any symbol are free for characters the keymap lacks.
    int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    KeySym* map = XGetKeyboardMapping(display, KeyCode(minKeycode), maxKeycode - minKeycode + 1, &perKeycode);
    if (map != nullptr) {
        for (int code = maxKeycode; code >= minKeycode; --code) {
            const KeySym* syms = map + (code - minKeycode) * perKeycode;
            if (std::all_of(syms, syms + perKeycode, [](KeySym s) { return s == NoSymbol; }))
                d->spares.append(KeyCode(code));
        }
        XFree(map);
    }
    qInfo("X11 input: XTEST %d.%d on %s, %d spare keycodes", major, minor, DisplayString(display),
          int(d->spares.size()));
    return std::unique_ptr<InputBackendX11>(new InputBackendX11(std::move(d)));
}

InputBackendX11::~InputBackendX11()
{
    {
        ErrorTrap trap(d->display);
        // Nothing stays pressed after we are gone.
        for (KeyCode code : qAsConst(d->heldKeys))
            XTestFakeKeyEvent(d->display, code, False, CurrentTime);
        d->heldKeys.clear();
        for (unsigned int button = kButtonLeft; button <= kButtonRight; ++button) {
            if (d->heldButtons & (1u << button))
                XTestFakeButtonEvent(d->display, button, False, CurrentTime);
        }
    }
    restoreSpareKeys();
    XCloseDisplay(d->display);
}

void InputBackendX11::send(const QVector<InputRecord>& records)
{
    // Pointer motion has nothing to report back, so it does not wait for the X server: at a
    // phone's rate of moves that round trip was most of the cost of a message.
    const bool motionOnly = std::all_of(records.cbegin(), records.cend(), [](const InputRecord& record) {
        return record.type == InputRecord::Mouse &&
               (record.flags & ~(InputRecord::MouseMove | InputRecord::Absolute)) == 0;
    });
    ErrorTrap trap(d->display, motionOnly ? ErrorTrap::Finish::Flush : ErrorTrap::Finish::Sync);
    // The keymap matters to keys only; motion leaves any news of it for the next key.
    if (!motionOnly)
        d->drainEvents();
    QRect screen;
    for (const InputRecord& record : records) {
        if (record.type == InputRecord::Keyboard) {
            d->key(record);
        } else {
            if (screen.isNull() && (record.flags & InputRecord::Absolute)) {
                const QSize size = primaryScreenSize();
                screen = QRect(QPoint(0, 0), size);
                if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
                    if (app->platformName() == QLatin1String("xcb") && app->primaryScreen() != nullptr)
                        screen.moveTopLeft(app->primaryScreen()->geometry().topLeft());
                }
            }
            d->mouse(record, screen);
        }
    }
}

bool InputBackendX11::typesCharacter(char32_t character)
{
    const KeySym sym = keysymForCodePoint(character);
    bool shift = false;
    return sym == 0 || d->onSpare(sym) || d->layoutKeycode(sym, true, &shift) != 0;
}

int InputBackendX11::spareCharacters()
{
    // Unmapped spares, and those whose last character clients have surely read.
    const qint64 now = Private::nowMs();
    int count = 0;
    for (KeyCode code : qAsConst(d->spares)) {
        const auto it = d->mapped.constFind(code);
        if (it == d->mapped.cend() ||
            (now - it.value().lastUseMs >= kSpareRemapSettleMs && !d->heldKeys.contains(code)))
            ++count;
    }
    return count;
}

bool InputBackendX11::typesRefusedSlowly()
{
    return !d->spares.isEmpty();
}

QSize InputBackendX11::primaryScreenSize()
{
    // Qt knows which monitor is primary; without a Qt display connection, the X screen.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QScreen* screen = app->primaryScreen();
        if (app->platformName() == QLatin1String("xcb") && screen != nullptr)
            return screen->size() * screen->devicePixelRatio();
    }
    const int number = DefaultScreen(d->display);
    return QSize(DisplayWidth(d->display, number), DisplayHeight(d->display, number));
}

void InputBackendX11::restoreSpareKeys()
{
    if (d->mapped.isEmpty())
        return;
    ErrorTrap trap(d->display);
    for (auto it = d->mapped.begin(); it != d->mapped.end();) {
        if (d->heldKeys.contains(it.key())) {
            ++it;
            continue;
        }
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(d->display, it.key(), 1, &none, 1);
        it = d->mapped.erase(it);
    }
    if (!d->mapped.isEmpty())
        d->restoreTimer.start();
}
