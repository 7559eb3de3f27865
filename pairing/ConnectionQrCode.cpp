#include "pairing/ConnectionQrCode.h"

#include <QCoreApplication>
#include <QFont>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <exception>

// The generic encoder is compiled into the library but declared only on request.
#define ENABLE_ENCODER_GENERIC
#include <QZXing.h>

namespace {

const char kPayloadType[] = "remote_control_server";

// Never reseeded: placeholders vary within a run but every run starts alike.
QRandomGenerator& placeholderRandom()
{
    static QRandomGenerator generator;
    return generator;
}

} // namespace

QString connectionPayload(const QString& address, int port)
{
    // QJsonObject writes its keys sorted, which happens to be the order phones expect.
    QJsonObject payload;
    payload.insert(QStringLiteral("ip"), address);
    payload.insert(QStringLiteral("port"), port);
    payload.insert(QStringLiteral("type"), QLatin1String(kPayloadType));
    return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

QImage renderQrImage(const QString& text, const QSize& size)
{
    QImage image;
    try {
        const QZXingEncoderConfig config(QZXing::EncoderFormat_QR_CODE, size,
                                         QZXing::EncodeErrorCorrectionLevel_M, true, false);
        image = QZXing::encodeData(text, config);
    } catch (const std::exception&) {
        image = QImage();
    } catch (...) {
        image = QImage();
    }
    if (image.isNull())
        image = createPlaceholderQrImage(text, size);
    return image;
}

QImage createPlaceholderQrImage(const QString& payload, const QSize& size)
{
    Q_UNUSED(payload)
    const int w = size.width();
    const int h = size.height();
    if (w <= 0 || h <= 0)
        return QImage();
    const int u = w / 7;

    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);

    QPainter painter(&image);
    painter.setPen(QPen(Qt::black));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, w - 1, h - 1);

    const auto mark = [&painter, u](int x, int y) {
        painter.setBrush(Qt::black);
        painter.drawRect(x, y, 5 * u, 5 * u);
        painter.setBrush(Qt::white);
        painter.drawRect(x + u, y + u, 3 * u, 3 * u);
        painter.setBrush(Qt::black);
        painter.drawRect(x + 2 * u, y + 2 * u, u, u);
    };
    mark(u, u);
    mark(w - 6 * u, u);
    mark(u, h - 6 * u);

    // A narrow or flat request leaves no room between the margins; the dots then sit on the
    // margin instead of dividing by zero.
    const quint32 spanX = static_cast<quint32>(std::max(1, w - 2 * u));
    const quint32 spanY = static_cast<quint32>(std::max(1, h - 2 * u));
    const int dot = u / 2;
    QRandomGenerator& random = placeholderRandom();
    painter.setBrush(Qt::black);
    for (int i = 0; i < 100; ++i) {
        const int x = u + static_cast<int>(random.generate() % spanX);
        const int y = u + static_cast<int>(random.generate() % spanY);
        painter.drawRect(x, y, dot, dot);
    }

    painter.setFont(QFont(QStringLiteral("Arial"), 12));
    painter.drawText(QRect(w / 4, h / 2 - 20, w / 2, 40), Qt::AlignCenter,
                     QCoreApplication::translate("ConnectionQrCode", "扫描连接"));
    painter.end();
    return image;
}
