#include "remote/TextTyper.h"

#include "remote/CommandTable.h"
#include "remote/InputSimulator.h"

#include <QDebug>
#include <QJsonObject>

#include <limits>

TextTyper::TextTyper(InputSimulator* input)
    : m_input(input)
{
}

TextTyper::~TextTyper() = default;

void TextTyper::start(const QString& text, const QVector<int>& keys)
{
    // Messages run one at a time, so a text is still being typed only when messages are fed
    // in directly; it is finished first to keep the order.
    if (m_job)
        continueTyping(std::numeric_limits<int>::max());
    m_job = Job{text, 0, keys};
    if (!continueTyping(PartMs) && m_moreToType)
        m_moreToType(); // the message loop types the rest; only more text waits for it
}

bool TextTyper::continueTyping(int budgetMs)
{
    if (!m_job)
        return true;
    m_job->next = m_input->typeTextPart(m_job->text, m_job->next, budgetMs);
    if (m_job->next < m_job->text.size())
        return false;
    const Job done = std::move(*m_job);
    m_job.reset();
    m_input->logTypedText(done.text);
    if (!done.keys.isEmpty())
        m_input->sendKeyCombination(done.keys);
    return true;
}

void TextTyper::end()
{
    if (!m_job)
        return;
    const int dropped = InputSimulator::characterCount(QStringView(m_job->text).mid(m_job->next));
    m_job.reset();
    qInfo() << "停止输入文本，丢弃未输入的字符数:" << dropped;
}

bool TextTyper::waitsForText(const QByteArray& message)
{
    const std::optional<QJsonObject> object = CommandTable::parse(message);
    if (!object)
        return false;
    const QString command = object->value(QLatin1String("command")).toString();
    if (command == QLatin1String("closewindow"))
        return true;
    return command == QLatin1String("keyinput") &&
           !object->value(QLatin1String("params")).toObject().value(QLatin1String("cancel")).toBool(false);
}
