#include "remote/ProtocolGuard.h"

#include "remote/LocalNetwork.h"

#include <QHostAddress>
#include <QString>

#include <array>
#include <cstring>

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const char* text, int size, const char* name)
{
    if (int(std::strlen(name)) != size)
        return false;
    for (int i = 0; i < size; ++i) {
        if (lower(text[i]) != name[i])
            return false;
    }
    return true;
}

bool startsWithIgnoringCase(const char* text, int size, const char* prefix)
{
    const int length = int(std::strlen(prefix));
    if (size <= length)
        return false;
    for (int i = 0; i < length; ++i) {
        if (lower(text[i]) != prefix[i])
            return false;
    }
    return true;
}

// Header names a browser or an HTTP client library sends with a request.
constexpr std::array<const char*, 30> kHeaderNames{"host",
                                                   "origin",
                                                   "referer",
                                                   "user-agent",
                                                   "accept",
                                                   "content-type",
                                                   "content-length",
                                                   "connection",
                                                   "cookie",
                                                   "upgrade",
                                                   "cache-control",
                                                   "pragma",
                                                   "transfer-encoding",
                                                   "authorization",
                                                   "expect",
                                                   "dnt",
                                                   "te",
                                                   "range",
                                                   "keep-alive",
                                                   "priority",
                                                   "forwarded",
                                                   "via",
                                                   "content-encoding",
                                                   "content-language",
                                                   "date",
                                                   "purpose",
                                                   "save-data",
                                                   "upgrade-insecure-requests",
                                                   "x-forwarded-for",
                                                   "x-requested-with"};
// Families of header names, matched by their beginning.
constexpr std::array<const char*, 6> kHeaderPrefixes{"accept-",         "sec-",    "if-", "proxy-",
                                                     "access-control-", "content-"};

bool isRequestHeader(const char* name, int size)
{
    for (const char* known : kHeaderNames) {
        if (equalsIgnoringCase(name, size, known))
            return true;
    }
    for (const char* prefix : kHeaderPrefixes) {
        if (startsWithIgnoringCase(name, size, prefix))
            return true;
    }
    return false;
}

// "METHOD SP target SP HTTP/" at the start of `text`.
bool isRequestLine(const char* text, int size)
{
    int i = 0;
    while (i < size && isTokenChar(text[i]))
        ++i;
    if (i == 0 || i >= size || text[i] != ' ')
        return false;
    const int targetStart = ++i;
    while (i < size && text[i] != ' ' && text[i] != '\t')
        ++i;
    if (i == targetStart || i >= size)
        return false;
    static const char version[] = " HTTP/";
    const int versionLength = int(sizeof version) - 1;
    return size - i >= versionLength && std::memcmp(text + i, version, std::size_t(versionLength)) == 0;
}

// "Name: value" (or "Name:" with an empty value), with a known request header name.
bool isHeaderLine(const char* text, int size)
{
    int i = 0;
    while (i < size && isTokenChar(text[i]))
        ++i;
    return i > 0 && i < size && text[i] == ':' && isRequestHeader(text, i);
}

} // namespace

bool looksLikeHttp(const QByteArray& line)
{
    // A JSON object starts with "{" or white space, neither of which begins either form.
    return isRequestLine(line.constData(), line.size()) || isHeaderLine(line.constData(), line.size());
}

QString httpRefusal(const QHostAddress& peer)
{
    return QStringLiteral("Connection closed, it speaks HTTP, not the phone protocol: ") +
           peerAddressKey(peer);
}
