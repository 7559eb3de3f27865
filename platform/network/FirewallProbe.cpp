#include "platform/network/FirewallProbe.h"

#include <QRegularExpression>

namespace {

// Whether a port list such as "6888,8888" or "6000:7000" (ufw) or "6000-7000" (firewalld)
// holds `port`.
bool listHoldsPort(const QString& list, int port, QChar rangeMark)
{
    const QStringList parts = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const int mark = part.indexOf(rangeMark);
        bool ok = false;
        bool okHigh = false;
        const int low = (mark < 0 ? part : part.left(mark)).toInt(&ok);
        const int high = mark < 0 ? low : part.mid(mark + 1).toInt(&okHigh);
        if (ok && (mark < 0 || okHigh) && low <= port && port <= high)
            return true;
    }
    return false;
}

// ufw keeps one "### tuple ###" comment per rule in its rules file:
//   ### tuple ### allow tcp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 Velmora - in
// action, protocol, destination ports, destination, source ports, source, [application], direction.
bool ufwAllows(const QString& rules, int port)
{
    static const QRegularExpression tuple(QStringLiteral("^### tuple ### (\\S+) (\\S+) (\\S+) (.*)$"),
                                          QRegularExpression::MultilineOption);
    auto it = tuple.globalMatch(rules);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString action = match.captured(1);
        const QString protocol = match.captured(2);
        const QString rest = match.captured(4);
        if (!action.startsWith(QLatin1String("allow")) || rest.endsWith(QLatin1String(" out")))
            continue;
        if (protocol != QLatin1String("tcp") && protocol != QLatin1String("any"))
            continue;
        if (match.captured(3) == QLatin1String("any") ||
            listHoldsPort(match.captured(3), port, QLatin1Char(':')))
            return true;
    }
    return false;
}

bool zoneAllows(const FirewalldZone& zone, int port)
{
    if (zone.target == QLatin1String("ACCEPT") || zone.services.contains(QLatin1String("velmora")))
        return true;
    for (const QString& entry : zone.ports) {
        const QString protocol = entry.section(QLatin1Char('/'), 1);
        if (protocol == QLatin1String("tcp") &&
            listHoldsPort(entry.section(QLatin1Char('/'), 0, 0), port, QLatin1Char('-')))
            return true;
    }
    return false;
}

} // namespace

FirewallAdvice adviseFirewall(const FirewallFacts& facts, const QList<int>& ports)
{
    FirewallAdvice advice;
    // firewalld first: where both are installed, the one whose daemon runs is in charge.
    if (facts.firewalldRunning) {
        advice.firewall = FirewallAdvice::Firewalld;
        if (!facts.firewalldAnswered || facts.firewalldZones.isEmpty()) {
            advice.verdict = FirewallAdvice::Unknown;
        } else {
            advice.verdict = FirewallAdvice::Open;
            for (const FirewalldZone& zone : facts.firewalldZones) {
                for (const int port : ports) {
                    if (!zoneAllows(zone, port))
                        advice.verdict = FirewallAdvice::Blocked;
                }
            }
        }
        if (advice.verdict != FirewallAdvice::Open)
            advice.command = QStringLiteral(
                "sudo firewall-cmd --permanent --add-service=velmora && sudo firewall-cmd --reload");
        return advice;
    }
    if (facts.ufwEnabled) {
        advice.firewall = FirewallAdvice::Ufw;
        if (facts.ufwInputPolicy.compare(QLatin1String("ACCEPT"), Qt::CaseInsensitive) == 0) {
            advice.verdict = FirewallAdvice::Open;
        } else if (!facts.ufwRulesReadable) {
            advice.verdict = FirewallAdvice::Unknown;
        } else {
            advice.verdict = FirewallAdvice::Open;
            for (const int port : ports) {
                if (!ufwAllows(facts.ufwRules, port))
                    advice.verdict = FirewallAdvice::Blocked;
            }
        }
        if (advice.verdict != FirewallAdvice::Open)
            advice.command = QStringLiteral("sudo ufw allow Velmora");
        return advice;
    }
    return advice;
}
