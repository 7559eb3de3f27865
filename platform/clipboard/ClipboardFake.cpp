#include "platform/clipboard/ClipboardFake.h"

#include <utility>

bool ClipboardFake::setText(const QString& text)
{
    if (!accepting)
        return false;
    read = ClipboardRead{ClipboardRead::Result::Text, text};
    return true;
}

void ClipboardFake::readText(qint64 maxBytes, ReadDone done)
{
    ++reads;
    if (read.result == ClipboardRead::Result::Text && read.text.toUtf8().size() > maxBytes)
        done(ClipboardRead{ClipboardRead::Result::TooLarge, QString()});
    else
        done(read);
}

void ClipboardFake::saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done)
{
    if (deferSaves) {
        pendingSave = std::move(done);
        return;
    }
    if (content.known)
        done(content);
    else
        Clipboard::saveContent(maxBytes, std::move(done));
}

void ClipboardFake::answerSave()
{
    if (auto done = std::exchange(pendingSave, nullptr))
        done(content);
}

bool ClipboardFake::offerTransient(const QString& text, std::function<void()> taken)
{
    if (!accepting)
        return false;
    offers << text;
    this->taken = std::move(taken);
    read = ClipboardRead{ClipboardRead::Result::Text, text};
    content =
        ClipboardContent{true,
                         {{QStringLiteral("text/plain;charset=utf-8"), text.toUtf8()},
                          {QLatin1String(ClipboardSecretHintType), QByteArray(ClipboardSecretHintValue)}},
                         {}};
    return true;
}

bool ClipboardFake::restoreContent(const ClipboardContent& restored)
{
    ++restores;
    if (!restored.known || !accepting)
        return false;
    content = restored;
    read = ClipboardRead{
        restored.types.isEmpty() ? ClipboardRead::Result::Text : ClipboardRead::Result::NotText, QString()};
    for (const auto& type : restored.types) {
        if (type.first.startsWith(QLatin1String("text/plain")))
            read = ClipboardRead{ClipboardRead::Result::Text, QString::fromUtf8(type.second)};
    }
    return true;
}
