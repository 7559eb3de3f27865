#include "platform/session/ConsoleEventsFake.h"

ConsoleEventsFake::ConsoleEventsFake(QObject* parent, bool installSucceeds)
    : ConsoleEvents(parent)
    , m_installSucceeds(installSucceeds)
{
}

bool ConsoleEventsFake::install()
{
    ++m_installCalls;
    m_installed = m_installSucceeds;
    return m_installSucceeds;
}

void ConsoleEventsFake::uninstall()
{
    m_installed = false;
}
