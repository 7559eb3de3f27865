#include "platform/shell/ShortcutReaderLnk.h"

#include <QTextCodec>

#include <cstring>

namespace {

constexpr quint32 HeaderSize = 0x4C;
const unsigned char LinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// {20D04FE0-3AEA-1069-A2D8-08002B30309D}: "This PC", the root of every file-system ID list.
const unsigned char MyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                           0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

enum LinkFlag : quint32
{
    HasLinkTargetIdList = 0x1,
    HasLinkInfo = 0x2,
    HasName = 0x4,
    HasRelativePath = 0x8,
    HasWorkingDir = 0x10,
    HasArguments = 0x20,
    HasIconLocation = 0x40,
    IsUnicode = 0x80,
    ForceNoLinkInfo = 0x100,
    HasExpString = 0x200,
};

constexpr quint32 VolumeIdAndLocalBasePath = 0x1;
constexpr quint32 CommonNetworkRelativeLinkAndPathSuffix = 0x2;
constexpr quint32 EnvironmentVariableBlock = 0xA0000001;
constexpr quint32 FileEntryExtensionBlock = 0xBEEF0004;
// The shell's buffers hold MAX_PATH (260) units including the terminating NUL.
constexpr int MaxTextLength = 259;

// Bounds-checked little-endian reads over one region of the file. Every read that would run
// past the region fails instead.
class Region
{
public:
    Region(const QByteArray& bytes, int offset, int size)
        : m_data(bytes.constData() + offset)
        , m_size(size)
    {
    }
    Region(const char* data, int size)
        : m_data(data)
        , m_size(size)
    {
    }

    int size() const { return m_size; }
    const char* data() const { return m_data; }

    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset + length <= m_size;
    }
    bool u8(qint64 offset, quint8& out) const
    {
        if (!has(offset, 1))
            return false;
        out = static_cast<quint8>(m_data[offset]);
        return true;
    }
    bool u16(qint64 offset, quint16& out) const
    {
        if (!has(offset, 2))
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(m_data + offset);
        out = static_cast<quint16>(p[0] | (p[1] << 8));
        return true;
    }
    bool u32(qint64 offset, quint32& out) const
    {
        if (!has(offset, 4))
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(m_data + offset);
        out = quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
        return true;
    }
    bool equals(qint64 offset, const unsigned char* expected, int length) const
    {
        return has(offset, length) && std::memcmp(m_data + offset, expected, length) == 0;
    }
    Region sub(qint64 offset, qint64 length) const
    {
        return Region(m_data + offset, static_cast<int>(length));
    }

    // A NUL-terminated 8-bit text starting at `offset`; ends at the region's end at the latest.
    QString ansiZ(qint64 offset) const
    {
        if (!has(offset, 0))
            return QString();
        qint64 end = offset;
        while (end < m_size && m_data[end] != '\0')
            ++end;
        return decodeAnsiText(QByteArray(m_data + offset, static_cast<int>(end - offset)));
    }
    // A NUL-terminated UTF-16LE text starting at `offset`.
    QString utf16Z(qint64 offset) const
    {
        QString text;
        quint16 unit = 0;
        for (qint64 at = offset; u16(at, unit) && unit != 0; at += 2)
            text.append(QChar(unit));
        return text;
    }
    QString utf16(qint64 offset, int units) const
    {
        QString text;
        text.reserve(units);
        quint16 unit = 0;
        for (int i = 0; i < units && u16(offset + 2 * i, unit); ++i)
            text.append(QChar(unit));
        return text;
    }

private:
    const char* m_data;
    int m_size;
};

QString truncated(QString text)
{
    if (text.size() <= MaxTextLength)
        return text;
    text.truncate(MaxTextLength);
    // Never leave half of a surrogate pair behind.
    if (text.at(text.size() - 1).isHighSurrogate())
        text.chop(1);
    return text;
}

QString joinSuffix(const QString& base, const QString& suffix)
{
    if (suffix.isEmpty())
        return base;
    if (base.endsWith(QLatin1Char('\\')))
        return base + suffix;
    return base + QLatin1Char('\\') + suffix;
}

// The target recorded in the LinkInfo structure; empty when it names no path.
QString linkInfoTarget(const Region& info)
{
    quint32 headerSize = 0, flags = 0, localBaseOffset = 0, networkOffset = 0, suffixOffset = 0;
    if (!info.u32(4, headerSize) || !info.u32(8, flags) || !info.u32(16, localBaseOffset) ||
        !info.u32(20, networkOffset) || !info.u32(24, suffixOffset))
        return QString();
    quint32 localBaseOffsetUnicode = 0, suffixOffsetUnicode = 0;
    if (headerSize >= 0x24) {
        info.u32(28, localBaseOffsetUnicode);
        info.u32(32, suffixOffsetUnicode);
    }
    // An offset of 0 would point back at the structure's own size field: no text there.
    const QString suffix = suffixOffsetUnicode ? info.utf16Z(suffixOffsetUnicode)
                           : suffixOffset      ? info.ansiZ(suffixOffset)
                                               : QString();

    if ((flags & VolumeIdAndLocalBasePath) && (localBaseOffset || localBaseOffsetUnicode)) {
        const QString base =
            localBaseOffsetUnicode ? info.utf16Z(localBaseOffsetUnicode) : info.ansiZ(localBaseOffset);
        if (!base.isEmpty())
            return base + suffix;
    }
    if ((flags & CommonNetworkRelativeLinkAndPathSuffix) && info.has(networkOffset, 0x14)) {
        quint32 size = 0, netNameOffset = 0;
        info.u32(networkOffset, size);
        info.u32(networkOffset + 8, netNameOffset);
        if (!info.has(networkOffset, size))
            return QString();
        const Region network = info.sub(networkOffset, size);
        quint32 netNameOffsetUnicode = 0;
        if (netNameOffset > 0x14)
            network.u32(0x14, netNameOffsetUnicode);
        const QString netName = netNameOffsetUnicode ? network.utf16Z(netNameOffsetUnicode)
                                : netNameOffset      ? network.ansiZ(netNameOffset)
                                                     : QString();
        if (!netName.isEmpty())
            return joinSuffix(netName, suffix);
    }
    return QString();
}

// The long name in a file entry's 0xBEEF0004 extension block; empty when there is none.
QString fileEntryLongName(const Region& item, qint64 from)
{
    quint32 signature = 0;
    for (qint64 at = from; at + 4 <= item.size(); ++at) {
        if (!item.u32(at, signature) || signature != FileEntryExtensionBlock)
            continue;
        const qint64 start = at - 4;
        quint16 blockSize = 0, version = 0;
        if (start < 0 || !item.u16(start, blockSize) || !item.u16(start + 2, version) ||
            !item.has(start, blockSize))
            return QString();
        qint64 nameOffset = 0;
        if (version >= 9)
            nameOffset = 46;
        else if (version == 8)
            nameOffset = 42;
        else if (version == 7)
            nameOffset = 38;
        else if (version >= 3)
            nameOffset = 20;
        else
            return QString();
        return item.sub(start, blockSize).utf16Z(nameOffset);
    }
    return QString();
}

// The name of one file-entry item (a folder or file below a drive).
QString fileEntryName(const Region& item)
{
    quint8 type = 0;
    item.u8(2, type);
    constexpr qint64 primaryNameOffset = 14;
    qint64 after = primaryNameOffset;
    QString primary;
    if (type & 0x04) {
        primary = item.utf16Z(primaryNameOffset);
        after += 2 * (primary.size() + 1);
    } else {
        qint64 end = primaryNameOffset;
        while (end < item.size() && item.data()[end] != '\0')
            ++end;
        primary = item.ansiZ(primaryNameOffset);
        after = end + 1;
        if (after % 2)
            ++after; // padded to a 16-bit boundary
    }
    const QString longName = fileEntryLongName(item, after);
    return longName.isEmpty() ? primary : longName;
}

// The file-system path an item ID list leads to: "This PC", a drive, then folders and the
// file. Anything else (control panel items, libraries, network places) has no path.
QString idListTarget(const Region& list)
{
    QString path;
    bool first = true;
    quint16 itemSize = 0;
    for (qint64 at = 0; list.u16(at, itemSize) && itemSize != 0; at += itemSize) {
        if (itemSize < 3 || !list.has(at, itemSize))
            return QString();
        const Region item = list.sub(at, itemSize);
        quint8 type = 0;
        item.u8(2, type);
        if (first && type == 0x1F) {
            first = false;
            if (!item.equals(4, MyComputerClsid, 16))
                return QString();
            continue;
        }
        first = false;
        if ((type & 0x70) == 0x20) {
            path = item.ansiZ(3);
            if (!path.isEmpty() && !path.endsWith(QLatin1Char('\\')))
                path += QLatin1Char('\\');
        } else if ((type & 0x70) == 0x30 && !path.isEmpty()) {
            const QString name = fileEntryName(item);
            if (name.isEmpty())
                return QString();
            path = joinSuffix(path, name);
        } else {
            return QString();
        }
    }
    return path;
}

// The unexpanded target of the environment-variable block ("%ProgramFiles%\\..."), if any.
QString environmentTarget(const Region& file, qint64 at)
{
    quint32 blockSize = 0, signature = 0;
    while (file.u32(at, blockSize) && blockSize >= 8 && file.has(at, blockSize)) {
        file.u32(at + 4, signature);
        if (signature == EnvironmentVariableBlock && blockSize >= 0x314) {
            const Region block = file.sub(at, blockSize);
            const QString unicode = block.utf16Z(8 + 260);
            return unicode.isEmpty() ? block.ansiZ(8) : unicode;
        }
        at += blockSize;
    }
    return QString();
}

} // namespace

QString decodeAnsiText(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    const QString utf8 =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return utf8;
    if (QTextCodec* codec = QTextCodec::codecForName("Windows-1252"))
        return codec->toUnicode(bytes);
    return QString::fromLatin1(bytes);
}

std::optional<ShortcutInfo> parseShellLink(const QByteArray& bytes)
{
    const Region file(bytes, 0, bytes.size());
    quint32 headerSize = 0, flags = 0;
    if (!file.u32(0, headerSize) || headerSize != HeaderSize || !file.equals(4, LinkClsid, 16) ||
        !file.u32(20, flags) || !file.has(0, HeaderSize))
        return std::nullopt;

    qint64 at = HeaderSize;
    QString idListPath;
    if (flags & HasLinkTargetIdList) {
        quint16 size = 0;
        if (!file.u16(at, size) || !file.has(at + 2, size))
            return std::nullopt;
        idListPath = idListTarget(file.sub(at + 2, size));
        at += 2 + size;
    }
    QString linkInfoPath;
    if (flags & HasLinkInfo) {
        quint32 size = 0;
        if (!file.u32(at, size) || size < 0x1C || !file.has(at, size))
            return std::nullopt;
        if (!(flags & ForceNoLinkInfo))
            linkInfoPath = linkInfoTarget(file.sub(at, size));
        at += size;
    }

    // The string data: each a 16-bit character count and the characters, no terminator.
    QString strings[5];
    const quint32 stringFlags[5] = {HasName, HasRelativePath, HasWorkingDir, HasArguments, HasIconLocation};
    const bool unicode = flags & IsUnicode;
    for (int i = 0; i < 5; ++i) {
        if (!(flags & stringFlags[i]))
            continue;
        quint16 count = 0;
        if (!file.u16(at, count))
            return std::nullopt;
        const qint64 length = unicode ? 2 * qint64(count) : qint64(count);
        if (!file.has(at + 2, length))
            return std::nullopt;
        strings[i] =
            unicode ? file.utf16(at + 2, count) : decodeAnsiText(QByteArray(file.data() + at + 2, count));
        at += 2 + length;
    }

    ShortcutInfo info;
    if (!linkInfoPath.isEmpty())
        info.target = linkInfoPath;
    else if (!idListPath.isEmpty())
        info.target = idListPath;
    else if (flags & HasExpString)
        info.target = environmentTarget(file, at);
    info.target = truncated(info.target);
    info.workingDirectory = truncated(strings[2]);
    info.arguments = truncated(strings[3]);
    return info;
}
