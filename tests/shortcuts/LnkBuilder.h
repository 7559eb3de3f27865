#pragma once

// Builds Windows shell-link files byte by byte from the published MS-SHLLINK layout, so the
// tests need no file made on Windows.

#include <QByteArray>
#include <QString>
#include <QTextCodec>

namespace lnk {

enum Flag : quint32
{
    HasLinkTargetIdList = 0x1,
    HasLinkInfo = 0x2,
    HasName = 0x4,
    HasRelativePath = 0x8,
    HasWorkingDir = 0x10,
    HasArguments = 0x20,
    HasIconLocation = 0x40,
    IsUnicode = 0x80,
    HasExpString = 0x200,
};

inline QByteArray u16(quint16 v)
{
    return QByteArray().append(char(v & 0xFF)).append(char(v >> 8));
}
inline QByteArray u32(quint32 v)
{
    return u16(quint16(v & 0xFFFF)) + u16(quint16(v >> 16));
}
inline QByteArray utf16(const QString& s)
{
    QByteArray out;
    for (QChar c : s)
        out += u16(c.unicode());
    return out;
}
inline QByteArray utf16z(const QString& s)
{
    return utf16(s) + u16(0);
}
inline QByteArray cp1252(const QString& s)
{
    return QTextCodec::codecForName("Windows-1252")->fromUnicode(s);
}
inline QByteArray padded(QByteArray b, int size)
{
    b.append(QByteArray(size - b.size(), '\0'));
    return b;
}

inline QByteArray header(quint32 flags)
{
    const char clsid[] = "\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46";
    QByteArray h = u32(0x4C) + QByteArray(clsid, 16) + u32(flags) + u32(0x20 /* archive */);
    return padded(h, 0x4C);
}

// LinkInfo with VolumeIDAndLocalBasePath; with `unicode`, the optional Unicode offsets too.
inline QByteArray linkInfoLocal(const QString& basePath, const QString& suffix, bool unicode)
{
    const quint32 headerSize = unicode ? 0x24 : 0x1C;
    const QByteArray volume = u32(0x11) + u32(3) + u32(0x1234ABCD) + u32(0x10) + QByteArray(1, '\0');
    const QByteArray ansiBase = cp1252(basePath) + QByteArray(1, '\0');
    const QByteArray ansiSuffix = cp1252(suffix) + QByteArray(1, '\0');
    const quint32 volumeOffset = headerSize;
    const quint32 baseOffset = volumeOffset + volume.size();
    const quint32 suffixOffset = baseOffset + ansiBase.size();
    QByteArray tail = volume + ansiBase + ansiSuffix;
    QByteArray fields =
        u32(headerSize) + u32(1) + u32(volumeOffset) + u32(baseOffset) + u32(0) + u32(suffixOffset);
    if (unicode) {
        const quint32 baseUnicode = suffixOffset + ansiSuffix.size();
        const QByteArray wideBase = utf16z(basePath);
        const quint32 suffixUnicode = baseUnicode + wideBase.size();
        fields += u32(baseUnicode) + u32(suffixUnicode);
        tail += wideBase + utf16z(suffix);
    }
    const QByteArray body = fields + tail;
    return u32(body.size() + 4) + body;
}

// LinkInfo for a file on a network share only (CommonNetworkRelativeLinkAndPathSuffix).
inline QByteArray linkInfoNetwork(const QString& netName, const QString& suffix)
{
    const QByteArray name = netName.toLatin1() + QByteArray(1, '\0');
    const QByteArray network = u32(0x14 + name.size()) + u32(0) + u32(0x14) + u32(0) + u32(0x20000) + name;
    const quint32 networkOffset = 0x1C;
    const quint32 suffixOffset = networkOffset + network.size();
    const QByteArray body = u32(0x1C) + u32(2) + u32(0) + u32(0) + u32(networkOffset) + u32(suffixOffset) +
                            network + suffix.toLatin1() + QByteArray(1, '\0');
    return u32(body.size() + 4) + body;
}

inline QByteArray item(const QByteArray& data)
{
    return u16(quint16(data.size() + 2)) + data;
}
inline QByteArray rootItem(const char clsid[16])
{
    return item(QByteArray("\x1F\x50", 2) + QByteArray(clsid, 16));
}
inline QByteArray myComputer()
{
    return rootItem("\xE0\x4F\xD0\x20\xEA\x3A\x69\x10\xA2\xD8\x08\x00\x2B\x30\x30\x9D");
}
inline QByteArray controlPanel()
{
    return rootItem("\x80\x53\x1C\x87\xA0\x42\x69\x10\xA2\xEA\x08\x00\x2B\x30\x30\x9D");
}
inline QByteArray volumeItem(const QString& drive)
{
    return item(padded(QByteArray(1, '\x2F') + drive.toLatin1(), 23));
}
// The 0xBEEF0004 extension block of a file entry, laid out as the given version writes it.
inline QByteArray extensionBlock(int version, const QString& longName)
{
    QByteArray body = u32(0x5A3B1C2D) + u32(0x5A3B1C2D) + u16(version >= 9 ? 0x2E : 0x14);
    if (version >= 7)
        body += u16(0) + QByteArray(8, '\x11') + QByteArray(8, '\0');
    if (version >= 3)
        body += u16(0);
    if (version >= 9)
        body += u32(0);
    if (version >= 8)
        body += u32(0);
    body += utf16z(longName);
    if (version >= 3)
        body += u16(0x0014);
    return u16(quint16(body.size() + 8)) + u16(quint16(version)) + u32(0xBEEF0004) + body;
}
// A folder (0x31) or file (0x32) entry with an 8.3 primary name and, when given, a long name.
inline QByteArray fileItem(bool folder, const QString& shortName, const QString& longName, int version = 9)
{
    QByteArray data = QByteArray(1, folder ? '\x31' : '\x32') + QByteArray(1, '\0') + u32(1234) +
                      u32(0x5A3B1C2D) + u16(folder ? 0x10 : 0x20) + shortName.toLatin1() +
                      QByteArray(1, '\0');
    if ((data.size() + 2) % 2)
        data += QByteArray(1, '\0');
    if (!longName.isEmpty())
        data += extensionBlock(version, longName);
    return item(data);
}
inline QByteArray idList(const QByteArray& items)
{
    const QByteArray list = items + u16(0);
    return u16(quint16(list.size())) + list;
}

// One StringData entry: a character count and the characters without terminator.
inline QByteArray stringData(const QString& s, bool unicode)
{
    return u16(quint16(s.size())) + (unicode ? utf16(s) : cp1252(s));
}

inline QByteArray environmentBlock(const QString& target)
{
    return u32(0x314) + u32(0xA0000001) + padded(target.toLatin1(), 260) + padded(utf16(target), 520);
}

} // namespace lnk
