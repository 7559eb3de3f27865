#pragma once

#include <QByteArray>

// Whether a line received on the command port is part of an HTTP request: a request line
// (method, target, version) or a header of a kind browsers send. A web page can make the
// user's browser post to the command port, with command lines hidden in the body; no phone
// ever sends such a line, so a connection that does is not a phone.
bool looksLikeHttp(const QByteArray& line);

class QHostAddress;
class QString;

// The log line of a connection closed for speaking HTTP.
QString httpRefusal(const QHostAddress& peer);
