#include "platform/input/InputBackend.h"
#include "platform/input/InputBackendChoice.h"
#include "platform/input/InputBackendFake.h"
#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendPortal.h"
#include "platform/input/InputBackendStatus.h"
#include "platform/input/InputBackendUinput.h"
#include "platform/input/InputBackendWlroots.h"
#include "platform/input/InputBackendX11.h"

#include <QDebug>
#include <QSettings>

#include <unistd.h>

namespace {

std::unique_ptr<QSettings> userSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

InputSessionFacts gatherFacts()
{
    InputSessionFacts f;
    f.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE").trimmed().toLower();
    f.forced = qEnvironmentVariable("VELMORA_INPUT_BACKEND");
    f.waylandDisplay =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_SOCKET");
    f.x11Display = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (f.waylandDisplay) {
        const InputBackendWlroots::Globals globals = InputBackendWlroots::probe();
        f.virtualPointer = globals.virtualPointer;
        f.virtualKeyboard = globals.virtualKeyboard;
    }
    const bool wayland =
        f.sessionType == QLatin1String("wayland") || (f.sessionType.isEmpty() && f.waylandDisplay);
    // Asking the portal may start it; only where it would be chosen.
    if (wayland && !(f.virtualPointer && f.virtualKeyboard)) {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        const InputBackendPortal::Probe portal = InputBackendPortal::probe(bus);
        f.portal = portal.available;
        f.portalVersion = portal.version;
        f.mutter = InputBackendMutter::available(bus);
        f.preferPortal = userSettings()->value(QStringLiteral("input/preferPortal"), false).toBool();
    }
    f.uinputOptIn = userSettings()->value(QStringLiteral("input/uinput"), false).toBool() ||
                    f.forced.compare(QLatin1String("uinput"), Qt::CaseInsensitive) == 0;
    f.uinputWritable = ::access("/dev/uinput", W_OK) == 0;
    return f;
}

std::unique_ptr<InputBackend> openBackend(InputBackendKind kind)
{
    switch (kind) {
    case InputBackendKind::XTest:
        return InputBackendX11::open();
    case InputBackendKind::Wlroots:
        return InputBackendWlroots::open();
    case InputBackendKind::Portal:
        return std::make_unique<InputBackendPortal>(QDBusConnection::sessionBus(), userSettings());
    case InputBackendKind::Mutter:
        return std::make_unique<InputBackendMutter>(QDBusConnection::sessionBus());
    case InputBackendKind::Uinput:
        return InputBackendUinput::open();
    case InputBackendKind::LogOnly:
        break;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<InputBackend> createInputBackend()
{
    const InputBackendChoice choice = chooseInputBackend(gatherFacts());
    qInfo().noquote() << inputBackendLogLine(choice);
    auto* status = InputBackendStatus::instance();
    if (choice.kind != InputBackendKind::LogOnly) {
        // The portal reports its own progress from here on.
        status->set(choice.kind,
                    choice.kind == InputBackendKind::Portal ? InputBackendStatus::State::WaitingForPermission
                                                            : InputBackendStatus::State::Ready,
                    choice.reason);
        if (auto backend = openBackend(choice.kind))
            return backend;
        qWarning().noquote() << "Input:" << inputBackendName(choice.kind)
                             << (choice.kind == InputBackendKind::XTest ? "cannot open the X display"
                                                                        : "could not be opened")
                             << "- remote pointer and keyboard commands are only logged";
        status->set(choice.kind, InputBackendStatus::State::Unavailable, choice.reason);
    } else {
        status->set(choice.kind, InputBackendStatus::State::Unavailable, choice.reason);
    }
    return std::make_unique<InputBackendFake>(InputBackendFake::Mode::Logging);
}
