#include "platform/InputBackend.h"
#include "platform/InputBackendChoice.h"
#include "platform/InputBackendFake.h"
#include "platform/InputBackendStatus.h"
#include "platform/InputBackendWlroots.h"
#include "platform/InputBackendX11.h"

#include <QDebug>

namespace {

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
    case InputBackendKind::Uinput:
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
        if (auto backend = openBackend(choice.kind)) {
            status->set(choice.kind, InputBackendStatus::State::Ready, choice.reason);
            return backend;
        }
        qWarning().noquote() << "Input:" << inputBackendName(choice.kind)
                             << "could not be opened; remote pointer and keyboard commands are only logged";
        status->set(choice.kind, InputBackendStatus::State::Unavailable, choice.reason);
    } else {
        status->set(choice.kind, InputBackendStatus::State::Unavailable, choice.reason);
    }
    return std::make_unique<InputBackendFake>(InputBackendFake::Mode::Logging);
}
