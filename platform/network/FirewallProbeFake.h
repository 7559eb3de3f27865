#pragma once

#include "platform/network/FirewallProbe.h"

// Reports the facts a test sets, at once, and counts how often it was asked.
class FirewallProbeFake final : public FirewallProbe
{
    Q_OBJECT
public:
    using FirewallProbe::FirewallProbe;

    void probe() override;

    void setFacts(const FirewallFacts& facts) { m_facts = facts; }
    int probes() const { return m_probes; }

private:
    FirewallFacts m_facts;
    int m_probes = 0;
};
