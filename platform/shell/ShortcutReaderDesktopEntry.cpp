#include "platform/shell/ShortcutReaderDesktopEntry.h"

#include <QHash>
#include <QUrl>

namespace {

// String values may carry \s, \n, \t, \r and \\ escapes.
QString unescapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        default:
            // Not an escape this format defines: keep both characters.
            out.append(c);
            out.append(next);
        }
    }
    return out;
}

// Removes the field codes (%f, %U, %i, ...) that the launcher would expand; "%%" is a percent
// sign. `wasOnlyCode` tells the caller the argument consisted of field codes alone.
QString removeFieldCodes(const QString& argument, bool* wasOnlyCode)
{
    QString out;
    bool sawCode = false;
    for (int i = 0; i < argument.size(); ++i) {
        const QChar c = argument.at(i);
        if (c != QLatin1Char('%') || i + 1 == argument.size()) {
            out.append(c);
            continue;
        }
        const QChar code = argument.at(++i);
        if (code == QLatin1Char('%'))
            out.append(code);
        else
            sawCode = true; // every other code, known or not, expands to something we cannot know
    }
    *wasOnlyCode = sawCode && out.isEmpty();
    return out;
}

bool needsQuotes(const QString& argument)
{
    if (argument.isEmpty())
        return true;
    for (const QChar c : argument) {
        if (c.isSpace() || c == QLatin1Char('"'))
            return true;
    }
    return false;
}

} // namespace

QStringList splitExecLine(const QString& exec)
{
    QStringList raw;
    QString current;
    bool inQuotes = false;
    bool inToken = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current.append(exec.at(++i));
            else if (c == QLatin1Char('"'))
                inQuotes = false;
            else
                current.append(c);
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inToken)
                raw.append(current);
            current.clear();
            inToken = false;
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            inToken = true;
        } else {
            current.append(c);
            inToken = true;
        }
    }
    if (inToken)
        raw.append(current);

    QStringList arguments;
    for (const QString& argument : raw) {
        bool onlyCode = false;
        const QString cleaned = removeFieldCodes(argument, &onlyCode);
        if (!onlyCode)
            arguments.append(cleaned);
    }
    return arguments;
}

QString joinArguments(const QStringList& arguments)
{
    QStringList parts;
    for (QString argument : arguments) {
        if (!needsQuotes(argument)) {
            parts.append(argument);
            continue;
        }
        argument.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
        parts.append(QLatin1Char('"') + argument + QLatin1Char('"'));
    }
    return parts.join(QLatin1Char(' '));
}

std::optional<ShortcutInfo> parseDesktopEntry(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QHash<QString, QString> keys;
    bool inEntryGroup = false;
    bool sawEntryGroup = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntryGroup = line == QLatin1String("[Desktop Entry]");
            sawEntryGroup = sawEntryGroup || inEntryGroup;
            continue;
        }
        if (!inEntryGroup)
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        // The first occurrence of a key counts.
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    if (!sawEntryGroup)
        return std::nullopt;

    ShortcutInfo info;
    info.name = unescapeValue(keys.value(QStringLiteral("Name")));
    const QString type = keys.value(QStringLiteral("Type"));
    if (type == QLatin1String("Application")) {
        const QStringList arguments = splitExecLine(unescapeValue(keys.value(QStringLiteral("Exec"))));
        if (arguments.isEmpty() || arguments.first().isEmpty())
            return std::nullopt;
        info.target = arguments.first();
        info.arguments = joinArguments(arguments.mid(1));
        info.workingDirectory = unescapeValue(keys.value(QStringLiteral("Path")));
    } else if (type == QLatin1String("Link")) {
        const QUrl url(unescapeValue(keys.value(QStringLiteral("URL"))));
        if (url.isEmpty())
            return std::nullopt;
        info.target = url.isLocalFile() ? url.toLocalFile() : url.toString();
    } else {
        return std::nullopt;
    }
    return info;
}
