#include "platform/input/InputBackendChoice.h"

namespace {

bool isWaylandSession(const InputSessionFacts& f)
{
    if (f.sessionType == QLatin1String("wayland"))
        return true;
    // Without a session type (a shell started by hand), a reachable compositor decides.
    return f.sessionType.isEmpty() && f.waylandDisplay;
}

// Reasons are fixed texts: the log shows them as they are, the Settings page translated.
InputBackendChoice choice(InputBackendKind kind, const char* reason)
{
    return InputBackendChoice{kind, QString::fromUtf8(reason)};
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
    case InputBackendKind::Mutter:
        return QStringLiteral("mutter");
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
                                      InputBackendKind::Portal, InputBackendKind::Mutter,
                                      InputBackendKind::Uinput};
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
            return choice(kind, QT_TRANSLATE_NOOP("InputBackendChoice", "chosen by VELMORA_INPUT_BACKEND"));
    }
    if (isWaylandSession(f)) {
        if (f.virtualPointer && f.virtualKeyboard)
            return choice(InputBackendKind::Wlroots,
                          QT_TRANSLATE_NOOP("InputBackendChoice",
                                            "the compositor offers virtual pointer and keyboard"));
        const bool portalRemembers = f.portal && f.portalVersion >= 2;
        if (f.mutter && f.portal && f.preferPortal)
            return choice(InputBackendKind::Portal,
                          QT_TRANSLATE_NOOP("InputBackendChoice", "the portal, as chosen in the settings"));
        if (f.mutter && !portalRemembers)
            return choice(InputBackendKind::Mutter,
                          f.portal ? QT_TRANSLATE_NOOP("InputBackendChoice",
                                                       "GNOME's own remote control, without a prompt; its "
                                                       "portal cannot remember a permission")
                                   : QT_TRANSLATE_NOOP("InputBackendChoice",
                                                       "GNOME's own remote control, without a prompt"));
        if (portalRemembers)
            return choice(InputBackendKind::Portal,
                          QT_TRANSLATE_NOOP("InputBackendChoice",
                                            "the RemoteDesktop portal, which remembers the permission"));
        if (f.portal)
            return choice(
                InputBackendKind::Portal,
                QT_TRANSLATE_NOOP("InputBackendChoice", "Wayland session with the RemoteDesktop portal"));
        if (f.uinputOptIn && f.uinputWritable)
            return choice(InputBackendKind::Uinput,
                          QT_TRANSLATE_NOOP("InputBackendChoice", "enabled by the user"));
        if (f.x11Display)
            return choice(InputBackendKind::XTest,
                          QT_TRANSLATE_NOOP(
                              "InputBackendChoice",
                              "Wayland session without virtual input or portal; reaches X11 windows only"));
        if (f.uinputOptIn)
            return choice(InputBackendKind::LogOnly,
                          QT_TRANSLATE_NOOP(
                              "InputBackendChoice",
                              "uinput is enabled but /dev/uinput is not writable; commands are only logged"));
        return choice(
            InputBackendKind::LogOnly,
            QT_TRANSLATE_NOOP("InputBackendChoice",
                              "Wayland session without virtual input or portal; commands are only logged"));
    }
    if (f.x11Display)
        return choice(InputBackendKind::XTest, QT_TRANSLATE_NOOP("InputBackendChoice", "X11 session"));
    if (f.uinputOptIn && f.uinputWritable)
        return choice(InputBackendKind::Uinput,
                      QT_TRANSLATE_NOOP("InputBackendChoice", "enabled by the user"));
    return choice(InputBackendKind::LogOnly,
                  QT_TRANSLATE_NOOP(
                      "InputBackendChoice",
                      "cannot open the X display or reach a Wayland compositor; commands are only logged"));
}

QString inputBackendLogLine(const InputBackendChoice& c)
{
    return QStringLiteral("Input: ") + inputBackendName(c.kind) + QStringLiteral(" (") + c.reason +
           QStringLiteral(")");
}
