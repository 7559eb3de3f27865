#include "platform/clipboard/Clipboard.h"
#include "platform/clipboard/ClipboardPipes.h"

void Clipboard::saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done)
{
    readText(maxBytes, [done = std::move(done)](const ClipboardRead& read) {
        ClipboardContent content;
        // Only text can be read here: anything else could not be put back.
        if (read.result != ClipboardRead::Result::Text) {
            done(content);
            return;
        }
        content.known = true;
        if (!read.text.isEmpty())
            content.types.append({clipboardTextTypes().constFirst(), read.text.toUtf8()});
        done(content);
    });
}

bool Clipboard::offerTransient(const QString& text, std::function<void()> /*taken*/)
{
    return setText(text);
}

bool Clipboard::restoreContent(const ClipboardContent& content)
{
    if (!content.known)
        return false;
    QStringList types;
    for (const auto& type : content.types)
        types << type.first;
    const QString textType = clipboardTextType(types);
    for (const auto& type : content.types) {
        if (type.first == textType)
            return setText(QString::fromUtf8(type.second));
    }
    // It was empty: the nearest this desktop gets is an empty text.
    return setText(QString());
}
