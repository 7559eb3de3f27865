#include "platform/clipboard/ClipboardQt.h"

#include <QClipboard>
#include <QDebug>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextCodec>

ClipboardRead clipboardTextFromUtf8(const QByteArray& bytes, qint64 maxBytes)
{
    if (bytes.size() > maxBytes)
        return ClipboardRead{ClipboardRead::Result::TooLarge, QString()};
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    // A replacement character would hand on something the user never copied.
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return ClipboardRead{ClipboardRead::Result::BadEncoding, QString()};
    return ClipboardRead{ClipboardRead::Result::Text, text};
}

bool ClipboardQt::setText(const QString& text)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    return true;
}

void ClipboardQt::readText(qint64 maxBytes, ReadDone done)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        done(ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
        return;
    }
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr) {
        done(ClipboardRead{ClipboardRead::Result::Unavailable, QString()});
        return;
    }
    if (data->formats().isEmpty()) {
        done(ClipboardRead{ClipboardRead::Result::Text, QString()});
        return;
    }
    if (!data->hasText()) {
        done(ClipboardRead{ClipboardRead::Result::NotText, QString()});
        return;
    }
    const QString text = data->text();
    // Qt decodes the owner's bytes itself and patches broken UTF-8 with replacement characters,
    // keeping the raw bytes to itself. Such text is refused rather than passed on altered (a
    // replacement character really copied is refused too, which is rare and harmless).
    if (text.contains(QChar::ReplacementCharacter)) {
        done(ClipboardRead{ClipboardRead::Result::BadEncoding, QString()});
        return;
    }
    if (text.toUtf8().size() > maxBytes) {
        done(ClipboardRead{ClipboardRead::Result::TooLarge, QString()});
        return;
    }
    done(ClipboardRead{ClipboardRead::Result::Text, text});
}

QString ClipboardQt::name() const
{
    return QGuiApplication::platformName();
}
