#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QHostAddress;

// Which names this PC answers to on the web client's port: its interface addresses (IPv4, and
// IPv6 written in brackets), "localhost", its host name and "<hostname>.local". A browser
// always names the host it meant in "Host" and the page it runs in "Origin"; a page whose name
// an attacker points at this PC (DNS rebinding) still carries the attacker's name there, so
// anything else is turned away. The names are read once and again at most once a second when a
// name is not among them, so a new address is seen soon while a flood of strangers costs little.
class HostCheck final
{
public:
    // This PC's names as text: addresses in any form QHostAddress reads, other names as they are.
    using NameSource = std::function<QStringList()>;
    // Milliseconds of a monotonic clock.
    using Clock = std::function<qint64()>;

    static constexpr qint64 RefreshMs = 1000;

    // This system's names and a steady clock.
    HostCheck();
    HostCheck(NameSource source, Clock clock);

    // Whether a Host header's value ("name", "name:port", "[v6]", "[v6]:port") names this PC.
    // `local`, the address the connection came in on, always counts as this PC.
    bool isOwnHost(const QByteArray& host, const QHostAddress& local);
    // Whether a name already split off its port (see splitHost) names this PC.
    bool isOwnName(const QString& name, const QHostAddress& local);

    // Splits a Host value into its normalised name (lowercase, brackets and a final dot gone,
    // addresses in their usual form) and its port (-1 when none). False when it is no valid
    // host: empty, a bare IPv6 address, stray characters, a port that is no number up to 65535.
    static bool splitHost(const QByteArray& host, QString* name, int* port);
    // The same for a serialised browser origin, which must be "http://" and a host; anything
    // else (https, "null", a path) is false: the web client is served over plain http only.
    static bool splitOrigin(const QByteArray& origin, QString* name, int* port);

    // The names of this system, read afresh.
    static QStringList systemNames();

private:
    void refresh();

    NameSource m_source;
    Clock m_clock;
    QSet<QString> m_names; // normalised
    qint64 m_readAtMs = 0;
    bool m_read = false;
};
