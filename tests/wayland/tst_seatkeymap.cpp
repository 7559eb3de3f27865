#include "platform/input/SeatKeymap.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace {

// A file of `content` whose size is `size` (shorter content leaves the rest zero).
int memoryFile(const QByteArray& content, off_t size)
{
    const int fd = memfd_create("tst-keymap", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0 || pwrite(fd, content.constData(), size_t(content.size()), 0) < 0)
        return -1;
    return fd;
}

// A virtual keyboard of our own on the compositor's seat, whose keymap becomes the seat's.
class VirtualKeyboard
{
public:
    ~VirtualKeyboard()
    {
        if (m_keyboard != nullptr)
            zwp_virtual_keyboard_v1_destroy(m_keyboard);
        if (m_manager != nullptr)
            zwp_virtual_keyboard_manager_v1_destroy(m_manager);
        if (m_seat != nullptr)
            wl_seat_destroy(m_seat);
        if (m_registry != nullptr)
            wl_registry_destroy(m_registry);
        if (m_display != nullptr)
            wl_display_disconnect(m_display);
    }
    bool open()
    {
        m_display = wl_display_connect(nullptr);
        if (m_display == nullptr)
            return false;
        static const wl_registry_listener listener = {
            [](void* data, wl_registry* registry, quint32 name, const char* interface, quint32) {
                auto* self = static_cast<VirtualKeyboard*>(data);
                if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->m_seat == nullptr)
                    self->m_seat =
                        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
                    self->m_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
            },
            [](void*, wl_registry*, quint32) {
            }};
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &listener, this);
        wl_display_roundtrip(m_display);
        if (m_seat == nullptr || m_manager == nullptr)
            return false;
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
        return true;
    }
    // Uploads the layouts' keymap and taps Shift, which makes this the seat's current keyboard.
    bool setLayouts(const char* layouts)
    {
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        xkb_rule_names names{};
        names.layout = layouts;
        xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char* text =
            keymap != nullptr ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        if (text == nullptr)
            return false;
        const QByteArray content(text, int(std::strlen(text) + 1));
        free(text);
        const int fd = memoryFile(content, content.size());
        if (fd < 0)
            return false;
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       quint32(content.size()));
        constexpr quint32 kLeftShift = 42; // evdev
        zwp_virtual_keyboard_v1_key(m_keyboard, 1, kLeftShift, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(m_keyboard, 2, kLeftShift, WL_KEYBOARD_KEY_STATE_RELEASED);
        const bool sent = wl_display_roundtrip(m_display) >= 0;
        ::close(fd);
        return sent;
    }

private:
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
};

} // namespace

// The seat's keymap read from a real compositor (the headless sway of scripts/test.d/wayland)
// and kept current; a compositor that talks nonsense or none at all; keymap files that would
// make a careless reader wait or fault.
class tst_SeatKeymap : public QObject
{
    Q_OBJECT

private slots:
    void keymapFilesAreReadWithinBounds()
    {
        const QByteArray text("xkb_keymap { };");
        int fd = memoryFile(text + '\0', text.size() + 1);
        QCOMPARE(QByteArray::fromStdString(SeatKeymap::readKeymapText(fd, quint32(text.size() + 1))), text);
        // Told larger than the file is: a mapping would fault past its end.
        QVERIFY(SeatKeymap::readKeymapText(fd, quint32(text.size() + 4096)).empty());
        // Larger than any keymap.
        ::close(fd);
        fd = memoryFile(text, SeatKeymap::MaxKeymapBytes + 1);
        QVERIFY(SeatKeymap::readKeymapText(fd, SeatKeymap::MaxKeymapBytes + 1).empty());
        ::close(fd);
        // A pipe with nothing in it would wait for ever.
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        QVERIFY(SeatKeymap::readKeymapText(ends[0], 100).empty());
        ::close(ends[0]);
        ::close(ends[1]);
        QVERIFY(SeatKeymap::readKeymapText(-1, 100).empty());
        QVERIFY(SeatKeymap::readKeymapText(999999, 100).empty());
    }

    // Without a compositor the default layout answers, as it did before there was a live one.
    void withoutCompositorTheDefaultLayoutAnswers()
    {
        for (const QByteArray& display : {QByteArray(), QByteArray("/nonexistent/wayland-socket")}) {
            SeatKeymap keymap(display);
            QVERIFY(!keymap.isLive());
            for (char32_t c : {U'a', U'ö', U'世', U'\n'})
                QCOMPARE(keymap.typesCharacter(c),
                         KeymapKeys::defaultLayout().holdsCharacterInEveryLayout(c));
        }
    }

    // A "compositor" that sends nonsense, then one that hangs up: the reader lets go of the
    // connection without waiting or crashing, says so, and stays on the default layout.
    void aBrokenCompositorIsLeft()
    {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
                if (type == QtWarningMsg)
                    warnings << message;
            });
        const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
        QTemporaryDir dir;
        for (bool nonsense : {true, false}) {
            QLocalServer server;
            const QString path =
                dir.filePath(nonsense ? QStringLiteral("nonsense") : QStringLiteral("hangup"));
            QVERIFY(server.listen(path));
            SeatKeymap keymap(QFile::encodeName(path));
            QVERIFY(server.waitForNewConnection(5000));
            QLocalSocket* peer = server.nextPendingConnection();
            if (nonsense) {
                // Event 5 of the display, which has two.
                peer->write(QByteArray("\x01\x00\x00\x00\x05\x00\x08\x00", 8));
                peer->flush();
                QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QLocalSocket::UnconnectedState, 5000);
            } else {
                peer->close();
            }
            QTRY_COMPARE_WITH_TIMEOUT(warnings.size(), nonsense ? 1 : 2, 5000);
            QCOMPARE(warnings.last(),
                     QStringLiteral("Keyboard layout: the connection to the compositor failed; "
                                    "keys are chosen from the default layout"));
            QVERIFY(!keymap.isLive());
            QVERIFY(keymap.typesCharacter(U'a'));
        }
    }

    // The seat's keymap as it changes: a character counts only where every layout holds it,
    // since the compositor types a keysym in its current layout only.
    void followsTheSeatKeymap()
    {
        if (qEnvironmentVariableIsEmpty("VELMORA_TEST_SWAY") ||
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            QSKIP("needs the headless sway of scripts/test.d/wayland");
        VirtualKeyboard keyboard;
        QVERIFY(keyboard.open());
        QVERIFY(keyboard.setLayouts("ru,us"));
        SeatKeymap keymap;
        QSignalSpy changed(&keymap, &SeatKeymap::changed);
        QTRY_VERIFY_WITH_TIMEOUT(keymap.isLive(), 5000);
        QCOMPARE(keymap.keys().layoutCount(), 2);
        // Latin letters only in "us", Cyrillic only in "ru": neither types for sure.
        QVERIFY(!keymap.typesCharacter(U'H'));
        QVERIFY(!keymap.typesCharacter(U'ж'));
        QVERIFY(keymap.typesCharacter(U'1'));
        QVERIFY(keymap.typesCharacter(U' '));
        QVERIFY(keymap.typesCharacter(U'\n'));
        QVERIFY(!keymap.typesCharacter(U'世'));

        changed.clear();
        QVERIFY(keyboard.setLayouts("de"));
        QTRY_VERIFY_WITH_TIMEOUT(keymap.keys().layoutCount() == 1 && keymap.typesCharacter(U'ö'), 5000);
        QVERIFY(!changed.isEmpty());
        QVERIFY(keymap.typesCharacter(U'H'));
        QVERIFY(keymap.typesCharacter(U'ß'));
        QVERIFY(!keymap.typesCharacter(U'ж'));
        QVERIFY(!keymap.typesCharacter(U'😀'));

        QVERIFY(keyboard.setLayouts("ru"));
        QTRY_VERIFY_WITH_TIMEOUT(keymap.typesCharacter(U'ж'), 5000);
        QVERIFY(!keymap.typesCharacter(U'H'));
        QVERIFY(!keymap.typesCharacter(U'ö'));
    }
};

QTEST_GUILESS_MAIN(tst_SeatKeymap)
#include "tst_seatkeymap.moc"
