#include "platform/input/InputBackendStatus.h"

InputBackendStatus* InputBackendStatus::instance()
{
    // Lives for the whole process, like the backend it describes.
    static InputBackendStatus* status = new InputBackendStatus;
    return status;
}

void InputBackendStatus::set(InputBackendKind kind, State state, const QString& detail)
{
    if (m_kind == kind && m_state == state && m_detail == detail)
        return;
    m_kind = kind;
    m_state = state;
    m_detail = detail;
    emit changed();
}

void InputBackendStatus::setState(State state, const QString& detail)
{
    set(m_kind, state, detail);
}
