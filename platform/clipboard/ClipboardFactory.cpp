#include "platform/clipboard/ClipboardMutter.h"
#include "platform/clipboard/ClipboardQt.h"
#include "platform/clipboard/ClipboardWlroots.h"

#include <QDebug>
#include <QGuiApplication>

std::unique_ptr<Clipboard> createClipboard()
{
    // On Wayland only a focused window may use Qt's clipboard. Data control (wlroots
    // compositors, KWin) needs no focus, nor does the clipboard of GNOME's remote-desktop session.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (auto wlroots = ClipboardWlroots::open()) {
            qInfo() << "Clipboard: wlroots data-control";
            return wlroots;
        }
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (ClipboardMutter::available(bus)) {
            qInfo() << "Clipboard: GNOME Mutter remote desktop";
            return std::make_unique<ClipboardMutter>(bus);
        }
    }
    qInfo().noquote() << "Clipboard: Qt's own on" << QGuiApplication::platformName();
    return std::make_unique<ClipboardQt>();
}
