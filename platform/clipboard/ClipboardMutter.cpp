#include "platform/clipboard/ClipboardMutter.h"

#include "platform/clipboard/ClipboardMutterSession.h"
#include "platform/clipboard/ClipboardPipes.h"

#include <QDBusConnectionInterface>

#include <algorithm>

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
    return d->offer(clipboardTextOffer(text));
}

void ClipboardMutter::putText(const QString& text, PutDone done)
{
    d->offer(clipboardTextOffer(text), std::move(done));
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
    Session::Types types = clipboardTextOffer(text);
    types.append({QLatin1String(ClipboardSecretHintType), QByteArray(ClipboardSecretHintValue)});
    return d->offer(types, PutDone(), std::move(taken));
}

void ClipboardMutter::saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done)
{
    ClipboardSaveBounds bounds;
    bounds.totalBytes = maxBytes;
    bounds.typeBytes = std::min(bounds.typeBytes, maxBytes);
    bounds.deadlineMs = ReadTimeoutMs;
    d->save(bounds, std::move(done));
}

bool ClipboardMutter::restoreContent(const ClipboardContent& content)
{
    if (!content.known)
        return false;
    // It was empty: the nearest Mutter gets is an empty text.
    return d->offer(content.types.isEmpty() ? clipboardTextOffer(QString()) : content.types);
}

bool ClipboardMutter::isReady() const
{
    return d->ready();
}
