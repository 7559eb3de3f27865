#pragma once

// Reads a QR code drawn in a terminal with half blocks back, as a phone camera would see it.

#include <QImage>
#include <QRegularExpression>
#include <QStringList>

#include <QZXing.h>

// The picture of the code block that starts at `lines[first]`: every character cell is two
// modules high, black where the glyph covers it; colour sequences are dropped. Ends at the first
// line that is not part of the block.
inline QImage terminalQrImage(const QStringList& lines, int first, int scale = 6)
{
    static const QRegularExpression colour(QStringLiteral("\x1b\\[[0-9;]*m"));
    QStringList rows;
    for (int i = first; i < lines.size() && lines.at(i).startsWith(QLatin1String("\x1b[")); ++i)
        rows.append(QString(lines.at(i)).remove(colour));
    if (rows.isEmpty())
        return QImage();
    const int width = rows.first().size();
    QImage image(width * scale, rows.size() * 2 * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < rows.size(); ++y) {
        for (int x = 0; x < rows.at(y).size(); ++x) {
            const QChar c = rows.at(y).at(x);
            const bool top = c == QChar(0x2588) || c == QChar(0x2580);
            const bool bottom = c == QChar(0x2588) || c == QChar(0x2584);
            if (top || bottom) {
                for (int dy = 0; dy < 2 * scale; ++dy) {
                    if ((dy < scale && !top) || (dy >= scale && !bottom))
                        continue;
                    for (int dx = 0; dx < scale; ++dx)
                        image.setPixelColor(x * scale + dx, (2 * y) * scale + dy, Qt::black);
                }
            }
        }
    }
    return image;
}

// What a phone reads off the code, or empty. ZXing's detector misses some valid codes at one
// size and reads them at another, as a camera held closer or further would: a link whose code
// zbar read at every size failed here at 4 pixels a module and more, and was read at 2 and 3.
inline QString decodeQr(const QImage& image)
{
    QZXing decoder;
    decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
    for (int divisor : {1, 2, 3}) {
        const QImage seen = divisor == 1 ? image
                                         : image.scaled(image.size() / divisor, Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation);
        const QString text = decoder.decodeImage(seen);
        if (!text.isEmpty())
            return text;
    }
    return QString();
}
