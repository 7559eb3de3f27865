#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// The command server's port when no window tells us otherwise.
constexpr int kDefaultServerPort = 8888;

// The text a phone scans to pair: compact JSON with "ip", "port" and "type", in that order.
QString connectionPayload(const QString& address, int port);

// `text` as a QR code (level M, one-module quiet border, black on opaque white) scaled to
// `size`. Where the encoder fails, the placeholder picture below stands in.
QImage renderQrImage(const QString& text, const QSize& size = QSize(400, 400));

// A picture that looks like a QR code but encodes nothing, so that the page never shows an
// empty frame. `payload` is not drawn. The dots come from a generator that is never seeded:
// the first placeholder of a run always looks the same, later ones differ. A null image for
// an empty size.
QImage createPlaceholderQrImage(const QString& payload, const QSize& size);
