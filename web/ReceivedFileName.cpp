#include "web/ReceivedFileName.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// Cuts `text` to at most `maxBytes` of UTF-8 without splitting a character.
QString fitBytes(const QString& text, int maxBytes)
{
    QString out;
    int bytes = 0;
    for (int i = 0; i < text.size(); ++i) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const QString one = text.mid(i, pair ? 2 : 1);
        const int size = one.toUtf8().size();
        if (bytes + size > maxBytes)
            break;
        out += one;
        bytes += size;
        i += pair ? 1 : 0;
    }
    return out;
}

// The extension to keep when a name must be shortened: short, after a dot that is not the first.
int extensionStart(const QString& name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && name.size() - dot <= 16 ? dot : name.size();
}

// `stem` + `suffix` + `extension` within MaxBytes, shortening the stem first.
QString joined(const QString& stem, const QString& suffix, const QString& extension)
{
    const int room = ReceivedFileName::MaxBytes - suffix.toUtf8().size() - extension.toUtf8().size();
    if (room <= 0)
        return fitBytes(stem + suffix + extension, ReceivedFileName::MaxBytes);
    return fitBytes(stem, room) + suffix + extension;
}

} // namespace

namespace ReceivedFileName {

QString sanitized(const QString& name)
{
    // A browser sends the base name, but anything may arrive: keep only the last part.
    QString base = name;
    const int separator = std::max(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char('\\')));
    base = base.mid(separator + 1);

    QString clean;
    for (int i = 0; i < base.size(); ++i) {
        const QChar c = base.at(i);
        if (c.isHighSurrogate() && i + 1 < base.size() && base.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += base.at(++i);
            continue;
        }
        // Control characters, lone surrogates and invisible format characters (such as the
        // right-to-left override that makes "gpj.exe" look like "exe.jpg") are dropped.
        const QChar::Category category = c.category();
        // Line and paragraph separators (U+2028, U+2029) would break the name's line in the log
        // and in the list of received files; they part words, so they become a space.
        if (category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            clean += QLatin1Char(' ');
            continue;
        }
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || category == QChar::Other_Control ||
            category == QChar::Other_Format || category == QChar::Other_Surrogate ||
            category == QChar::Other_NotAssigned)
            continue;
        clean += c;
    }
    // Not hidden (and not "." or ".."), and no spaces or dots that file managers hide at the end.
    int start = 0;
    while (start < clean.size() && (clean.at(start) == QLatin1Char('.') || clean.at(start).isSpace()))
        ++start;
    int end = clean.size();
    while (end > start && (clean.at(end - 1) == QLatin1Char('.') || clean.at(end - 1).isSpace()))
        --end;
    clean = clean.mid(start, end - start);
    if (clean.isEmpty())
        return QStringLiteral("file");
    if (clean.toUtf8().size() <= MaxBytes)
        return clean;
    const int dot = extensionStart(clean);
    return joined(clean.left(dot), QString(), clean.mid(dot));
}

QString unique(const QString& folder, const QString& name, int first, int* used)
{
    const int dot = extensionStart(name);
    const QString stem = name.left(dot), extension = name.mid(dot);
    for (int number = std::max(first, 1);; ++number) {
        const QString candidate =
            number == 1 ? name : joined(stem, QStringLiteral(" (%1)").arg(number), extension);
        if (!QFileInfo::exists(folder + QLatin1Char('/') + candidate) &&
            !QFileInfo(folder + QLatin1Char('/') + candidate).isSymLink()) {
            if (used != nullptr)
                *used = number;
            return candidate;
        }
    }
}

} // namespace ReceivedFileName
