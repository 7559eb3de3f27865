#include "platform/network/FirewallProbeFake.h"

void FirewallProbeFake::probe()
{
    ++m_probes;
    emit finished(m_facts);
}
