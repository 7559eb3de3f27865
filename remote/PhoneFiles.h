#pragma once

#include <QByteArray>
#include <QString>

class QHostAddress;
class QJsonObject;

// What the file commands need of the side that receives and serves the files (the web
// server's): the files themselves travel over HTTP, the command port only hands out the
// permission. Injected, since the web server builds on this library and not the other way.
class PhoneFiles
{
public:
    virtual ~PhoneFiles() = default;

    // The largest file taken, in bytes.
    virtual qint64 maxBytes() const = 0;
    // Why a file of `size` bytes cannot be taken now ("tooLarge", "noSpace", "noFolder");
    // empty when it can.
    virtual QString refusalFor(qint64 size) const = 0;
    // A fresh single-use ticket for one upload from `peer`.
    virtual QByteArray issueTicket(const QHostAddress& peer) = 0;
    // Offers the file at `path` to the phone at `peer` alone: the body of its "fileoffer"
    // ({"name", "size", "url"}), whose link serves only that address; empty when the file
    // cannot be read.
    virtual QJsonObject offerTo(const QString& path, const QHostAddress& peer) = 0;
};
