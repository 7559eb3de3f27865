#include "platform/clipboard/ClipboardQt.h"

#include <QClipboard>
#include <QDebug>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextCodec>

namespace {

bool haveGui()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// A run offered for one paste: marked secret, and every read of it as text is told.
class TransientMimeData final : public QMimeData
{
public:
    TransientMimeData(const QString& text, std::function<void()> taken)
        : m_taken(std::move(taken))
    {
        setText(text);
        setData(QString::fromLatin1(ClipboardSecretHintType), ClipboardSecretHintValue);
    }

protected:
    QVariant retrieveData(const QString& type, QVariant::Type preferred) const override
    {
        // Qt calls this as it answers another program's read (ours do not happen meanwhile).
        if (m_taken && type.startsWith(QLatin1String("text/plain")))
            m_taken();
        return QMimeData::retrieveData(type, preferred);
    }

private:
    std::function<void()> m_taken;
};

} // namespace

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
    if (!haveGui())
        return false;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    return true;
}

void ClipboardQt::readText(qint64 maxBytes, ReadDone done)
{
    if (!haveGui()) {
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

void ClipboardQt::saveContent(qint64 maxBytes, std::function<void(const ClipboardContent&)> done)
{
    ClipboardContent content;
    if (!haveGui()) {
        done(content);
        return;
    }
    QClipboard* const board = QGuiApplication::clipboard();
    qint64 left = maxBytes;
    const auto read = [board, &left](QClipboard::Mode mode, QVector<QPair<QString, QByteArray>>* types) {
        const QMimeData* data = board->mimeData(mode);
        if (data == nullptr)
            return false;
        for (const QString& format : data->formats()) {
            // Qt's own names for what it converts the real types into on request.
            if (format.startsWith(QLatin1String("application/x-qt-")))
                continue;
            const QByteArray bytes = data->data(format);
            left -= bytes.size();
            if (left < 0)
                return false;
            types->append({format, bytes});
        }
        return true;
    };
    content.known = read(QClipboard::Clipboard, &content.types) &&
                    (!board->supportsSelection() || read(QClipboard::Selection, &content.selection));
    if (!content.known)
        content = ClipboardContent();
    done(content);
}

bool ClipboardQt::offerTransient(const QString& text, std::function<void()> taken)
{
    if (!haveGui())
        return false;
    QClipboard* const board = QGuiApplication::clipboard();
    board->setMimeData(new TransientMimeData(text, taken), QClipboard::Clipboard);
    if (board->supportsSelection())
        board->setMimeData(new TransientMimeData(text, std::move(taken)), QClipboard::Selection);
    return true;
}

bool ClipboardQt::restoreContent(const ClipboardContent& content)
{
    if (!content.known || !haveGui())
        return false;
    QClipboard* const board = QGuiApplication::clipboard();
    const auto put = [board](QClipboard::Mode mode, const QVector<QPair<QString, QByteArray>>& types) {
        if (types.isEmpty()) {
            board->clear(mode); // it had no owner, and has none again
            return;
        }
        auto* data = new QMimeData;
        for (const auto& type : types)
            data->setData(type.first, type.second);
        board->setMimeData(data, mode);
    };
    put(QClipboard::Clipboard, content.types);
    if (board->supportsSelection())
        put(QClipboard::Selection, content.selection);
    return true;
}

QString ClipboardQt::name() const
{
    return QGuiApplication::platformName();
}
