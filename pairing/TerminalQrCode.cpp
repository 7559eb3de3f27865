#include "pairing/TerminalQrCode.h"

#include <QImage>
#include <QVector>

#include <exception>

#define ENABLE_ENCODER_GENERIC
#include <QZXing.h>

namespace {

// Phones find the code quicker with a margin, but the terminal must also fit it; two modules
// keep a URL with its token at about 40 columns.
constexpr int kQuietModules = 2;
// Large enough that every module of the largest symbol spans several pixels.
constexpr int kProbeSize = 177 * 8;
constexpr int kModulePixels = 4;

const char kLineStart[] = "\x1b[30;107m"; // black glyphs on bright white
const char kLineEnd[] = "\x1b[0m";

QImage encode(const QString& text, int size)
{
    try {
        const QZXingEncoderConfig config(QZXing::EncoderFormat_QR_CODE, QSize(size, size),
                                         QZXing::EncodeErrorCorrectionLevel_M, false, false);
        return QZXing::encodeData(text, config);
    } catch (...) {
        return QImage();
    }
}

bool isDark(const QImage& image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

// The module grid of `text`, row by row; empty on failure. The encoder scales its grid to the
// requested size, so the module count is read off a large probe image: the 7-module finder in
// the top-left corner gives the module size roughly, and the timing pattern along row 6 (single
// modules alternating between the finders' separators) gives the count exactly, as it always
// has 12 runs fewer than the symbol has modules. Encoding again at a whole multiple of that
// count then makes every module an exact square.
QVector<QVector<bool>> moduleGrid(const QString& text)
{
    const QImage probe = encode(text, kProbeSize);
    if (probe.isNull() || probe.width() != kProbeSize || !isDark(probe, 0, 0))
        return {};
    int finder = 0;
    while (finder < probe.width() && isDark(probe, finder, 0))
        ++finder;
    const int timingRow = qRound(6.5 * finder / 7.0);
    if (finder < 7 || timingRow >= probe.height())
        return {};
    int runs = 1;
    for (int x = 1; x < probe.width(); ++x) {
        if (isDark(probe, x, timingRow) != isDark(probe, x - 1, timingRow))
            ++runs;
    }
    const int modules = runs + 12;
    if (modules < 21 || modules > 177 || (modules - 21) % 4 != 0)
        return {};

    const QImage exact = encode(text, modules * kModulePixels);
    if (exact.width() != modules * kModulePixels || exact.height() != exact.width())
        return {};
    QVector<QVector<bool>> grid(modules, QVector<bool>(modules));
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x)
            grid[y][x] =
                isDark(exact, x * kModulePixels + kModulePixels / 2, y * kModulePixels + kModulePixels / 2);
    }
    return grid;
}

} // namespace

QString terminalQrCode(const QString& text)
{
    const QVector<QVector<bool>> grid = moduleGrid(text);
    if (grid.isEmpty())
        return QString();
    const int size = grid.size();
    const int span = size + 2 * kQuietModules;
    const auto dark = [&grid, size](int x, int y) {
        x -= kQuietModules;
        y -= kQuietModules;
        return x >= 0 && y >= 0 && x < size && y < size && grid[y][x];
    };

    QString out;
    for (int y = 0; y < span; y += 2) {
        out += QLatin1String(kLineStart);
        for (int x = 0; x < span; ++x) {
            const bool top = dark(x, y);
            const bool bottom = y + 1 < span && dark(x, y + 1);
            if (top && bottom)
                out += QChar(0x2588); // █
            else if (top)
                out += QChar(0x2580); // ▀
            else if (bottom)
                out += QChar(0x2584); // ▄
            else
                out += QLatin1Char(' ');
        }
        out += QLatin1String(kLineEnd);
        out += QLatin1Char('\n');
    }
    return out;
}
