#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// One firewalld zone that governs incoming connections here, as far as it matters to us.
struct FirewalldZone
{
    QString name;
    QString target; // "default", "ACCEPT", "DROP", "%%REJECT%%"
    QStringList services;
    QStringList ports; // "8888/tcp", "6000-7000/tcp"
};

// What a user without root can find out about the host firewall.
struct FirewallFacts
{
    // ufw: /etc/ufw/ufw.conf says ENABLED=yes; the default incoming policy from /etc/default/ufw;
    // the rules the administrator added (/etc/ufw/user.rules), when that file is readable.
    bool ufwEnabled = false;
    QString ufwInputPolicy;
    bool ufwRulesReadable = false;
    QString ufwRules;
    // firewalld, over its D-Bus interface: running, and whether it answered the zone queries.
    bool firewalldRunning = false;
    bool firewalldAnswered = false;
    QList<FirewalldZone> firewalldZones;
};

// What the About page shows.
struct FirewallAdvice
{
    enum Firewall
    {
        None,
        Ufw,
        Firewalld,
    };
    enum Verdict
    {
        Open,    // no firewall, or it lets both ports in
        Blocked, // it keeps at least one of them out
        Unknown, // it is on, but its rules cannot be read as this user
    };
    Firewall firewall = None;
    Verdict verdict = Open;
    // The one command that opens both ports with the packaged profile or service; empty if Open.
    QString command;
};

// The decision: which firewall stands between a phone and `ports` (TCP), and how to open it.
// ufw is judged by its allow rules for the ports (or the profile), firewalld by the services
// and ports of the zones in use.
FirewallAdvice adviseFirewall(const FirewallFacts& facts, const QList<int>& ports = {8888, 6888});

// Looks at the host firewall without changing it and without root. `probe` gathers the facts,
// asynchronously where it asks other processes, and ends with `finished`.
class FirewallProbe : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~FirewallProbe() override = default;

    virtual void probe() = 0;

signals:
    void finished(const FirewallFacts& facts);
};

// The implementation for this operating system.
std::unique_ptr<FirewallProbe> createFirewallProbe(QObject* parent = nullptr);
