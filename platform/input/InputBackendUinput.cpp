#include "platform/input/InputBackendUinput.h"

#include "platform/input/InputDecoding.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Keys by their place on a US keyboard, unshifted and shifted.
constexpr char kUnshifted[] = "`1234567890-=qwertyuiop[]\\asdfghjkl;'zxcvbnm,./";
constexpr char kShifted[] = "~!@#$%^&*()_+QWERTYUIOP{}|ASDFGHJKL:\"ZXCVBNM<>?";
constexpr int kKeysInOrder[] = {
    KEY_GRAVE, KEY_1,         KEY_2,          KEY_3,          KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9, KEY_0,
    KEY_MINUS, KEY_EQUAL,     KEY_Q,          KEY_W,          KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U, KEY_I, KEY_O,
    KEY_P,     KEY_LEFTBRACE, KEY_RIGHTBRACE, KEY_BACKSLASH,  KEY_A, KEY_S, KEY_D, KEY_F, KEY_G, KEY_H, KEY_J,
    KEY_K,     KEY_L,         KEY_SEMICOLON,  KEY_APOSTROPHE, KEY_Z, KEY_X, KEY_C, KEY_V, KEY_B, KEY_N, KEY_M,
    KEY_COMMA, KEY_DOT,       KEY_SLASH,
};
static_assert(sizeof kKeysInOrder / sizeof kKeysInOrder[0] == sizeof kUnshifted - 1, "one key per character");
static_assert(sizeof kShifted == sizeof kUnshifted, "both rows cover the same keys");

bool writeEvents(int fd, const QVector<input_event>& events)
{
    const auto* p = reinterpret_cast<const char*>(events.constData());
    size_t left = size_t(events.size()) * sizeof(input_event);
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}

input_event event(int type, int code, int value)
{
    input_event e{};
    e.type = quint16(type);
    e.code = quint16(code);
    e.value = value;
    return e;
}

bool setUpDevice(int fd, const char* name, bool absolute)
{
    bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0 &&
              ioctl(fd, UI_SET_EVBIT, EV_REL) == 0;
    for (int button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        ok = ok && ioctl(fd, UI_SET_KEYBIT, button) == 0;
    ok = ok && ioctl(fd, UI_SET_RELBIT, REL_WHEEL) == 0 && ioctl(fd, UI_SET_RELBIT, REL_WHEEL_HI_RES) == 0;
    if (absolute) {
        ok = ok && ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0;
        for (int axis : {ABS_X, ABS_Y}) {
            uinput_abs_setup abs{};
            abs.code = quint16(axis);
            abs.absinfo.minimum = 0;
            abs.absinfo.maximum = InputRecord::AbsoluteMax;
            ok = ok && ioctl(fd, UI_SET_ABSBIT, axis) == 0 && ioctl(fd, UI_ABS_SETUP, &abs) == 0;
        }
    } else {
        ok = ok && ioctl(fd, UI_SET_RELBIT, REL_X) == 0 && ioctl(fd, UI_SET_RELBIT, REL_Y) == 0;
        for (int key = KEY_ESC; key < KEY_MAX && key < BTN_MISC; ++key)
            ok = ok && ioctl(fd, UI_SET_KEYBIT, key) == 0;
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;
    setup.id.product = absolute ? 0x0002 : 0x0001;
    std::strncpy(setup.name, name, UINPUT_MAX_NAME_SIZE - 1);
    return ok && ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
}

} // namespace

struct InputBackendUinput::Private
{
    int relativeFd = -1;
    int absoluteFd = -1;
    QSet<int> heldKeys;
    QSet<int> heldButtons;
    TypedUnitJoiner joiner;
    WheelSteps wheel;
    bool broken = false;

    void emitTo(int fd, QVector<input_event> events)
    {
        if (broken || events.isEmpty())
            return;
        events.append(event(EV_SYN, SYN_REPORT, 0));
        if (!writeEvents(fd, events)) {
            broken = true;
            qWarning("uinput input: writing events failed (%s); remote input stops", std::strerror(errno));
        }
    }

    void key(int code, bool down)
    {
        emitTo(relativeFd, {event(EV_KEY, code, down ? 1 : 0)});
        if (down)
            heldKeys.insert(code);
        else
            heldKeys.remove(code);
    }

    void typeCodePoint(char32_t codePoint)
    {
        bool shift = false;
        const int code = InputBackendUinput::keyForCharacter(codePoint, &shift);
        if (code == 0) {
            qDebug("uinput input: a typed character has no key on a US keyboard"); // not which: typed text
                                                                                   // stays private
            return;
        }
        // A Shift the phone holds stays held afterwards; only the character decides whether
        // Shift is down while its key goes down.
        QVector<int> lifted;
        const bool shiftHeld = heldKeys.contains(KEY_LEFTSHIFT) || heldKeys.contains(KEY_RIGHTSHIFT);
        if (!shift) {
            for (int s : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT}) {
                if (heldKeys.contains(s))
                    lifted << s;
            }
        }
        const bool pressShift = shift && !shiftHeld;
        for (int s : qAsConst(lifted))
            emitTo(relativeFd, {event(EV_KEY, s, 0)});
        if (pressShift)
            emitTo(relativeFd, {event(EV_KEY, KEY_LEFTSHIFT, 1)});
        emitTo(relativeFd, {event(EV_KEY, code, 1)});
        emitTo(relativeFd, {event(EV_KEY, code, 0)});
        if (pressShift)
            emitTo(relativeFd, {event(EV_KEY, KEY_LEFTSHIFT, 0)});
        for (int s : qAsConst(lifted))
            emitTo(relativeFd, {event(EV_KEY, s, 1)});
    }
};

std::unique_ptr<InputBackendUinput> InputBackendUinput::open()
{
    const int relative = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    const int absolute = relative >= 0 ? ::open("/dev/uinput", O_WRONLY | O_CLOEXEC) : -1;
    if (relative < 0 || absolute < 0) {
        qWarning("uinput input: cannot open /dev/uinput: %s", std::strerror(errno));
        if (relative >= 0)
            ::close(relative);
        return nullptr;
    }
    if (!setUpDevice(relative, "Velmora pointer and keyboard", false) ||
        !setUpDevice(absolute, "Velmora absolute pointer", true)) {
        qWarning("uinput input: the kernel refused the virtual devices: %s", std::strerror(errno));
        ::close(relative);
        ::close(absolute);
        return nullptr;
    }
    qInfo("uinput input: virtual pointer and keyboard created");
    return std::make_unique<InputBackendUinput>(relative, absolute);
}

InputBackendUinput::InputBackendUinput(int relativeFd, int absoluteFd)
    : d(std::make_unique<Private>())
{
    d->relativeFd = relativeFd;
    d->absoluteFd = absoluteFd;
}

InputBackendUinput::~InputBackendUinput()
{
    // Nothing stays pressed after we are gone.
    const QSet<int> keys = d->heldKeys;
    for (int code : keys)
        d->key(code, false);
    const QSet<int> buttons = d->heldButtons;
    for (int code : buttons)
        d->emitTo(d->relativeFd, {event(EV_KEY, code, 0)});
    for (int fd : {d->relativeFd, d->absoluteFd}) {
        ioctl(fd, UI_DEV_DESTROY); // fails harmlessly on anything but a uinput device
        ::close(fd);
    }
}

void InputBackendUinput::send(const QVector<InputRecord>& records)
{
    for (const InputRecord& r : records) {
        if (r.type == InputRecord::Keyboard) {
            const bool up = (r.flags & InputRecord::KeyUp) != 0;
            if (r.flags & InputRecord::Unicode) {
                if (!up) {
                    if (const char32_t codePoint = d->joiner.take(r.scan))
                        d->typeCodePoint(codePoint);
                }
                continue;
            }
            const int code = keyForVirtualKey(r.vk);
            if (code != 0 && (!up || d->heldKeys.contains(code)))
                d->key(code, !up);
            continue;
        }
        const std::uint32_t f = r.flags;
        if (f & InputRecord::MouseMove) {
            if (f & InputRecord::Absolute) {
                d->emitTo(d->absoluteFd,
                          {event(EV_ABS, ABS_X, std::clamp(r.dx, 0, InputRecord::AbsoluteMax)),
                           event(EV_ABS, ABS_Y, std::clamp(r.dy, 0, InputRecord::AbsoluteMax))});
            } else if (r.dx != 0 || r.dy != 0) {
                d->emitTo(d->relativeFd, {event(EV_REL, REL_X, r.dx), event(EV_REL, REL_Y, r.dy)});
            }
        }
        for (const ButtonChange& b : buttonChanges(f)) {
            d->emitTo(d->relativeFd, {event(EV_KEY, int(b.code), b.down ? 1 : 0)});
            if (b.down)
                d->heldButtons.insert(int(b.code));
            else
                d->heldButtons.remove(int(b.code));
        }
        if (f & InputRecord::Wheel) {
            // Positive is away from the user on both sides. Readers of the high-resolution axis
            // (libinput) take the distance in 120ths as it came and ignore REL_WHEEL; the rest
            // count whole notches.
            constexpr int kMaxHighResolution = WheelSteps::MaxStepsPerRecord * InputRecord::WheelDelta;
            const int steps = d->wheel.take(r.mouseData);
            QVector<input_event> events;
            if (steps != 0)
                events << event(EV_REL, REL_WHEEL, steps);
            if (r.mouseData != 0)
                events << event(EV_REL, REL_WHEEL_HI_RES,
                                std::clamp(r.mouseData, -kMaxHighResolution, kMaxHighResolution));
            if (!events.isEmpty())
                d->emitTo(d->relativeFd, events);
        }
    }
}

QSize InputBackendUinput::primaryScreenSize()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (QScreen* screen = app->primaryScreen())
            return screen->size();
    }
    return QSize(1920, 1080);
}

int InputBackendUinput::keyForVirtualKey(int vk)
{
    bool shift = false;
    if (vk >= 0x41 && vk <= 0x5A)
        return keyForCharacter(char32_t('a' + (vk - 0x41)), &shift);
    if (vk >= 0x30 && vk <= 0x39)
        return keyForCharacter(char32_t(vk), &shift);
    if (vk >= 0x70 && vk <= 0x7B)
        return vk <= 0x79 ? KEY_F1 + (vk - 0x70) : KEY_F11 + (vk - 0x7A);
    if (vk >= 0x7C && vk <= 0x87)
        return KEY_F13 + (vk - 0x7C);
    static const int numpad[] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                 KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    if (vk >= 0x60 && vk <= 0x69)
        return numpad[vk - 0x60];
    switch (vk) {
    case 0x08:
        return KEY_BACKSPACE;
    case 0x09:
        return KEY_TAB;
    case 0x0D:
        return KEY_ENTER;
    case 0x10:
    case 0xA0:
        return KEY_LEFTSHIFT;
    case 0xA1:
        return KEY_RIGHTSHIFT;
    case 0x11:
    case 0xA2:
        return KEY_LEFTCTRL;
    case 0xA3:
        return KEY_RIGHTCTRL;
    case 0x12:
    case 0xA4:
        return KEY_LEFTALT;
    case 0xA5:
        return KEY_RIGHTALT;
    case 0x13:
        return KEY_PAUSE;
    case 0x14:
        return KEY_CAPSLOCK;
    case 0x1B:
        return KEY_ESC;
    case 0x20:
        return KEY_SPACE;
    case 0x21:
        return KEY_PAGEUP;
    case 0x22:
        return KEY_PAGEDOWN;
    case 0x23:
        return KEY_END;
    case 0x24:
        return KEY_HOME;
    case 0x25:
        return KEY_LEFT;
    case 0x26:
        return KEY_UP;
    case 0x27:
        return KEY_RIGHT;
    case 0x28:
        return KEY_DOWN;
    case 0x2C:
        return KEY_SYSRQ;
    case 0x2D:
        return KEY_INSERT;
    case 0x2E:
        return KEY_DELETE;
    case 0x5B:
        return KEY_LEFTMETA;
    case 0x5C:
        return KEY_RIGHTMETA;
    case 0x5D:
        return KEY_COMPOSE;
    case 0x6A:
        return KEY_KPASTERISK;
    case 0x6B:
        return KEY_KPPLUS;
    case 0x6D:
        return KEY_KPMINUS;
    case 0x6E:
        return KEY_KPDOT;
    case 0x6F:
        return KEY_KPSLASH;
    case 0x90:
        return KEY_NUMLOCK;
    case 0x91:
        return KEY_SCROLLLOCK;
    case 0xAD:
        return KEY_MUTE;
    case 0xAE:
        return KEY_VOLUMEDOWN;
    case 0xAF:
        return KEY_VOLUMEUP;
    case 0xB0:
        return KEY_NEXTSONG;
    case 0xB1:
        return KEY_PREVIOUSSONG;
    case 0xB2:
        return KEY_STOPCD;
    case 0xB3:
        return KEY_PLAYPAUSE;
    case 0xBA:
        return KEY_SEMICOLON;
    case 0xBB:
        return KEY_EQUAL;
    case 0xBC:
        return KEY_COMMA;
    case 0xBD:
        return KEY_MINUS;
    case 0xBE:
        return KEY_DOT;
    case 0xBF:
        return KEY_SLASH;
    case 0xC0:
        return KEY_GRAVE;
    case 0xDB:
        return KEY_LEFTBRACE;
    case 0xDC:
        return KEY_BACKSLASH;
    case 0xDD:
        return KEY_RIGHTBRACE;
    case 0xDE:
        return KEY_APOSTROPHE;
    case 0xE2:
        return KEY_102ND;
    default:
        return 0;
    }
}

int InputBackendUinput::keyForCharacter(char32_t c, bool* shift)
{
    *shift = false;
    switch (c) {
    case U' ':
        return KEY_SPACE;
    case U'\n':
    case U'\r':
        return KEY_ENTER;
    case U'\t':
        return KEY_TAB;
    case U'\b':
        return KEY_BACKSPACE;
    case 0x1B:
        return KEY_ESC;
    case 0x7F:
        return KEY_DELETE;
    default:
        break;
    }
    if (c >= 0x80)
        return 0;
    for (size_t i = 0; i + 1 < sizeof kUnshifted; ++i) {
        if (char32_t(kUnshifted[i]) == c)
            return kKeysInOrder[i];
        if (char32_t(kShifted[i]) == c) {
            *shift = true;
            return kKeysInOrder[i];
        }
    }
    return 0;
}

bool InputBackendUinput::typesCharacter(char32_t character)
{
    // Other control characters type nothing anywhere; there is nothing to paste for them.
    bool shift = false;
    return character < 0x20 || keyForCharacter(character, &shift) != 0;
}
