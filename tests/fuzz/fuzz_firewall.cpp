// Feeds arbitrary text to the firewall judgement as ufw's rules file and as firewalld's zone
// ports: odd port lists, ranges and numbers beyond int must neither crash nor open a port that
// no rule names. A rule text without "8888" or "6888" and without a range or "any" can never
// let both ports in.

#include "platform/network/FirewallProbe.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));

    FirewallFacts ufw;
    ufw.ufwEnabled = true;
    ufw.ufwInputPolicy = QStringLiteral("DROP");
    ufw.ufwRulesReadable = true;
    ufw.ufwRules = text;
    const FirewallAdvice ufwAdvice = adviseFirewall(ufw);
    const bool mayOpen = text.contains(QLatin1String("8888")) || text.contains(QLatin1Char(':')) ||
                         text.contains(QLatin1String("any"));
    if (ufwAdvice.verdict == FirewallAdvice::Open && !mayOpen)
        std::abort();

    FirewallFacts firewalld;
    firewalld.firewalldRunning = true;
    firewalld.firewalldAnswered = true;
    firewalld.firewalldZones.append(
        {QStringLiteral("public"), QStringLiteral("default"), {}, text.split(QLatin1Char('\n'))});
    adviseFirewall(firewalld);
    return 0;
}
