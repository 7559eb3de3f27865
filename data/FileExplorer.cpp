#include "data/FileExplorer.h"

#include "platform/files/FileIdentity.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>

#include <algorithm>
#include <climits>
#include <vector>

MediaFolderScope::MediaFolderScope(const QStringList& folders)
{
    for (const QString& folder : folders) {
        QString root = QFileInfo(folder).canonicalFilePath();
        if (root.isEmpty())
            continue;
        // Whole path components are compared: "/music2" is not inside "/music".
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        m_roots.append(root);
    }
}

QString MediaFolderScope::resolve(const QString& path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return QString();
    const QString asFolder = canonical.endsWith(QLatin1Char('/')) ? canonical : canonical + QLatin1Char('/');
    for (const QString& root : m_roots) {
        if (asFolder.startsWith(root))
            return canonical;
    }
    return QString();
}

FileExplorer::FileExplorer(QObject* parent)
    : QObject(parent)
{
}

namespace {

// One listed entry, read once from the file system: its name, and for files the size and time.
struct ListedEntry
{
    QString name;
    bool dir = false;
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch
};

QStringList lowerCaseExtensions(const QString& filter)
{
    QStringList extensions;
    if (!filter.isEmpty()) {
        extensions = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (QString& extension : extensions)
            extension = extension.toLower();
    }
    return extensions;
}

// The entries of `path` the phone may be shown, sub-folders and files each in case-sensitive
// name order; false when `path` is no directory. A large folder is read once: each entry's
// file-system facts come from the one look that listing it took.
bool readListing(const QString& path, const QString& filter, const MediaFolderScope* scope,
                 std::vector<ListedEntry>* dirs, std::vector<ListedEntry>* files)
{
    const QDir dir(path);
    if (!dir.exists())
        return false;
    const QStringList extensions = lowerCaseExtensions(filter);
    // Neither Hidden nor System: dot files stay out. Links are followed, so a link to a folder
    // is listed as a folder under its own name. The entry's kind comes with its name; one look
    // at each file (through links) gives its size and time.
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot);
    FileIdentity identity;
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        // Listed entries must be usable: a link that leads nowhere, or out of the media
        // folders, could be neither browsed nor opened.
        if (entry.isSymLink() &&
            (scope != nullptr ? scope->resolve(entry.filePath()).isEmpty() : !entry.exists()))
            continue;
        ListedEntry listed;
        listed.name = entry.fileName();
        if (entry.isDir()) {
            listed.dir = true;
            dirs->push_back(std::move(listed));
            continue;
        }
        if (!extensions.isEmpty() && !extensions.contains(QLatin1Char('.') + entry.suffix().toLower()))
            continue;
        if (identifyFile(entry.filePath(), &identity)) {
            listed.size = identity.size;
            listed.modifiedNs = identity.modifiedNs;
        }
        files->push_back(std::move(listed));
    }
    // Name order is by code unit, not by locale.
    const auto byName = [](const ListedEntry& a, const ListedEntry& b) {
        return a.name < b.name;
    };
    std::sort(dirs->begin(), dirs->end(), byName);
    std::sort(files->begin(), files->end(), byName);
    return true;
}

QStringList namesOf(const std::vector<ListedEntry>& entries)
{
    QStringList names;
    names.reserve(int(entries.size()));
    for (const ListedEntry& entry : entries)
        names.append(entry.name);
    return names;
}

// Local modification times as "yyyy-MM-dd hh:mm:ss", as Qt's local time gives them. Each of
// its conversions looks at the system's time zone file again, so the offset from UTC is asked
// once per quarter of an hour of file times, where changes of offset fall; a quarter whose two
// ends differ asks for each of its times.
class ModifiedTexts
{
public:
    QString text(qint64 modifiedNs)
    {
        // Qt takes a time of 0 ms since the epoch for "not known" (so does a file gone meanwhile).
        if (modifiedNs >= 0 && modifiedNs < kNsPerSecond / 1000)
            return QString();
        const qint64 seconds =
            modifiedNs >= 0 ? modifiedNs / kNsPerSecond : -((-modifiedNs + kNsPerSecond - 1) / kNsPerSecond);
        const qint64 quarter =
            seconds >= 0 ? seconds / kQuarterSeconds : -((-seconds + kQuarterSeconds - 1) / kQuarterSeconds);
        auto known = m_offsets.constFind(quarter);
        if (known == m_offsets.constEnd()) {
            const qint64 start = quarter * kQuarterSeconds;
            const int first = offsetAt(start);
            known = m_offsets.insert(quarter,
                                     first == offsetAt(start + kQuarterSeconds - 1) ? first : kAskEachTime);
        }
        const int offset = *known == kAskEachTime ? offsetAt(seconds) : *known;
        return format(QDateTime::fromSecsSinceEpoch(seconds + offset, Qt::UTC));
    }

private:
    static constexpr qint64 kNsPerSecond = 1000000000;
    static constexpr qint64 kQuarterSeconds = 15 * 60;
    static constexpr int kAskEachTime = INT_MIN;

    static int offsetAt(qint64 seconds)
    {
        return QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime).offsetFromUtc();
    }

    static QString format(const QDateTime& time)
    {
        const QDate date = time.date();
        const QTime clock = time.time();
        if (!date.isValid() || !clock.isValid() || date.year() < 1000 || date.year() > 9999)
            return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        char text[20];
        const auto put = [&text](int at, int value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10)
                text[at + i] = char('0' + value % 10);
        };
        put(0, date.year(), 4);
        text[4] = '-';
        put(5, date.month(), 2);
        text[7] = '-';
        put(8, date.day(), 2);
        text[10] = ' ';
        put(11, clock.hour(), 2);
        text[13] = ':';
        put(14, clock.minute(), 2);
        text[16] = ':';
        put(17, clock.second(), 2);
        return QString::fromLatin1(text, 19);
    }

    QHash<qint64, int> m_offsets;
};

} // namespace

bool FileExplorer::list(const QString& path, QStringList& dirs, QStringList& files, const QString& filter,
                        const MediaFolderScope* scope)
{
    dirs.clear();
    files.clear();
    std::vector<ListedEntry> dirEntries;
    std::vector<ListedEntry> fileEntries;
    if (!readListing(path, filter, scope, &dirEntries, &fileEntries))
        return false;
    dirs = namesOf(dirEntries);
    files = namesOf(fileEntries);
    return true;
}

QJsonObject directoryListing(const QString& path, const MediaFolderScope* scope)
{
    const QString filter = QString::fromLatin1(MediaExtensions::kAll);
    QJsonObject listing;
    listing.insert(QStringLiteral("path"), path);
    listing.insert(QStringLiteral("filter"), filter);

    std::vector<ListedEntry> dirs;
    std::vector<ListedEntry> files;
    if (!readListing(path, filter, scope, &dirs, &files))
        return listing;

    QJsonArray fileArray;
    ModifiedTexts times;
    for (const ListedEntry& entry : files) {
        QJsonObject file;
        file.insert(QStringLiteral("name"), entry.name);
        const int dot = entry.name.lastIndexOf(QLatin1Char('.'));
        file.insert(QStringLiteral("ext"), dot < 0 ? QString() : entry.name.mid(dot + 1));
        file.insert(QStringLiteral("size"), QJsonValue(entry.size));
        file.insert(QStringLiteral("lm"), times.text(entry.modifiedNs));
        fileArray.append(file);
    }

    listing.insert(QStringLiteral("dirs"), QJsonArray::fromStringList(namesOf(dirs)));
    listing.insert(QStringLiteral("files"), fileArray);
    QJsonObject statistics;
    statistics.insert(QStringLiteral("directoryCount"), int(dirs.size()));
    statistics.insert(QStringLiteral("fileCount"), fileArray.size());
    listing.insert(QStringLiteral("statistics"), statistics);
    return listing;
}
