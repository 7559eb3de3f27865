#include "remote/CommandTable.h"

#include "remote/CommandHandler.h"
#include "remote/InputSimulator.h"
#include "remote/JsonKeyCheck.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <iterator>

CommandTable::CommandTable() = default;
CommandTable::~CommandTable() = default;

CommandHandler* CommandTable::add(std::unique_ptr<CommandHandler> handler)
{
    CommandHandler* const added = handler.get();
    for (const QString& name : added->commands()) {
        if (m_byName.contains(name)) {
            qWarning().noquote() << "Command table: a second handler for" << name << "ignored";
            continue;
        }
        m_byName.insert(name, added);
    }
    m_handlers.push_back(std::move(handler));
    return added;
}

void CommandTable::run(const QJsonObject& object, CommandContext& context) const
{
    qDebug() << "Receive => " << loggable(object);
    const QString command = object.value(QLatin1String("command")).toString();
    if (CommandHandler* handler = handlerFor(command))
        handler->handle(command, object.value(QLatin1String("params")).toObject(), context);
}

std::optional<QJsonObject> CommandTable::parse(const QByteArray& line)
{
    if (hasDuplicateJsonKeys(line))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (document.isNull() || !document.isObject())
        return std::nullopt;
    return document.object();
}

QByteArray CommandTable::replyLine(const QString& command, const QJsonObject& body)
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("command"), command);
    envelope.insert(QStringLiteral("params"), body);
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray CommandTable::loggableReply(const QString& command, const QJsonObject& body,
                                       const QByteArray& line)
{
    const QLatin1String hidden[] = {QLatin1String("ticket"), QLatin1String("url")};
    if (std::none_of(std::begin(hidden), std::end(hidden),
                     [&body](QLatin1String key) { return body.contains(key); }))
        return line;
    QJsonObject shown = body;
    for (const QLatin1String key : hidden)
        shown.remove(key);
    return replyLine(command, shown);
}

QJsonObject CommandTable::loggable(const QJsonObject& object)
{
    const QString command = object.value(QLatin1String("command")).toString();
    if (command == QLatin1String("clipboardset")) {
        // The text only as its length, like typed text.
        const QJsonObject params = object.value(QLatin1String("params")).toObject();
        QJsonObject shown;
        if (params.value(QLatin1String("text")).isString())
            shown.insert(QStringLiteral("textLength"), params.value(QLatin1String("text")).toString().size());
        for (const QLatin1String key : {QLatin1String("part"), QLatin1String("more")}) {
            if (params.contains(key))
                shown.insert(key, params.value(key));
        }
        return QJsonObject{{QStringLiteral("command"), command}, {QStringLiteral("params"), shown}};
    }
    if (command != QLatin1String("keyinput"))
        return object;
    // The command, the text's length and the keys; nothing else the phone put in the message.
    const QJsonObject params = object.value(QLatin1String("params")).toObject();
    QJsonObject shown;
    if (params.contains(QLatin1String("text")))
        shown.insert(QStringLiteral("textLength"),
                     InputSimulator::characterCount(params.value(QLatin1String("text")).toString()));
    for (const QLatin1String key : {QLatin1String("keycodes"), QLatin1String("cancel")}) {
        if (params.contains(key))
            shown.insert(key, params.value(key));
    }
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("keyinput")},
                       {QStringLiteral("params"), shown}};
}
