#include "platform/InputBackendChoice.h"

namespace {

bool isWaylandSession(const InputSessionFacts& f)
{
    if (f.sessionType == QLatin1String("wayland"))
        return true;
    // Without a session type (a shell started by hand), a reachable compositor decides.
    return f.sessionType.isEmpty() && f.waylandDisplay;
}

InputBackendChoice choice(InputBackendKind kind, const QString& reason)
{
    return InputBackendChoice{kind, reason};
}

} // namespace

QString inputBackendName(InputBackendKind kind)
{
    switch (kind) {
    case InputBackendKind::XTest:
        return QStringLiteral("XTest");
    case InputBackendKind::Wlroots:
        return QStringLiteral("wlroots");
    case InputBackendKind::Portal:
        return QStringLiteral("portal");
    case InputBackendKind::Uinput:
        return QStringLiteral("uinput");
    case InputBackendKind::LogOnly:
        break;
    }
    return QStringLiteral("none");
}

InputBackendKind inputBackendKindFromName(const QString& name, bool* ok)
{
    const QString n = name.trimmed().toLower();
    const InputBackendKind kinds[] = {InputBackendKind::XTest, InputBackendKind::Wlroots,
                                      InputBackendKind::Portal, InputBackendKind::Uinput};
    for (InputBackendKind kind : kinds) {
        if (n == inputBackendName(kind).toLower()) {
            if (ok != nullptr)
                *ok = true;
            return kind;
        }
    }
    if (ok != nullptr)
        *ok = n == QLatin1String("log") || n == QLatin1String("none");
    return InputBackendKind::LogOnly;
}

InputBackendChoice chooseInputBackend(const InputSessionFacts& f)
{
    if (!f.forced.isEmpty()) {
        bool ok = false;
        const InputBackendKind kind = inputBackendKindFromName(f.forced, &ok);
        if (ok)
            return choice(kind, QStringLiteral("chosen by VELMORA_INPUT_BACKEND"));
    }
    if (isWaylandSession(f)) {
        if (f.virtualPointer && f.virtualKeyboard)
            return choice(InputBackendKind::Wlroots,
                          QStringLiteral("the compositor offers virtual pointer and keyboard"));
        if (f.portal)
            return choice(InputBackendKind::Portal,
                          QStringLiteral("Wayland session with the RemoteDesktop portal"));
        if (f.uinputOptIn && f.uinputWritable)
            return choice(InputBackendKind::Uinput, QStringLiteral("enabled by the user"));
        if (f.x11Display)
            return choice(
                InputBackendKind::XTest,
                QStringLiteral("Wayland session without virtual input or portal; reaches X11 windows only"));
        if (f.uinputOptIn)
            return choice(InputBackendKind::LogOnly,
                          QStringLiteral(
                              "uinput is enabled but /dev/uinput is not writable; commands are only logged"));
        return choice(
            InputBackendKind::LogOnly,
            QStringLiteral("Wayland session without virtual input or portal; commands are only logged"));
    }
    if (f.x11Display)
        return choice(InputBackendKind::XTest, QStringLiteral("X11 session"));
    if (f.uinputOptIn && f.uinputWritable)
        return choice(InputBackendKind::Uinput, QStringLiteral("enabled by the user"));
    return choice(
        InputBackendKind::LogOnly,
        QStringLiteral("cannot open the X display or reach a Wayland compositor; commands are only logged"));
}

QString inputBackendLogLine(const InputBackendChoice& c)
{
    return QStringLiteral("Input: ") + inputBackendName(c.kind) + QStringLiteral(" (") + c.reason +
           QStringLiteral(")");
}
