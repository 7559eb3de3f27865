#include "platform/clipboard/ClipboardMutter.h"

#include "platform/clipboard/ClipboardMutterSession.h"

#include <QDBusConnectionInterface>

using namespace mutterclipboard;

bool ClipboardMutter::available(const QDBusConnection& bus)
{
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    return bus.interface()->isServiceRegistered(kService).value();
}

ClipboardMutter::ClipboardMutter(const QDBusConnection& bus)
    : d(std::make_unique<Session>(bus))
{
    d->open();
}

ClipboardMutter::~ClipboardMutter() = default;

bool ClipboardMutter::setText(const QString& text)
{
    return d->setText(text);
}

void ClipboardMutter::putText(const QString& text, PutDone done)
{
    d->setText(text, std::move(done));
}

void ClipboardMutter::readText(qint64 maxBytes, ReadDone done)
{
    d->readText(maxBytes, std::move(done));
}

bool ClipboardMutter::offerTransient(const QString& text, std::function<void()> taken)
{
    if (!taken)
        taken = [] {
        };
    return d->setText(text, PutDone(), std::move(taken));
}

bool ClipboardMutter::isReady() const
{
    return d->ready();
}
