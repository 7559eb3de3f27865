#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class CommandContext;
class CommandHandler;
class QByteArray;
class QJsonObject;

// The dispatch table: command name to handler. Built once, in one place; a command no handler
// declared is ignored.
class CommandTable
{
public:
    CommandTable();
    ~CommandTable();
    CommandTable(const CommandTable&) = delete;
    CommandTable& operator=(const CommandTable&) = delete;

    // Takes `handler` and routes the commands it declares to it. A name already taken stays
    // with its first handler (and is logged): two areas must not both run one command.
    CommandHandler* add(std::unique_ptr<CommandHandler> handler);
    // The handler of `command`, or null.
    CommandHandler* handlerFor(const QString& command) const { return m_byName.value(command); }

    // Logs the command (typed text only as its length) and runs it with its handler.
    void run(const QJsonObject& object, CommandContext& context) const;

    // The object of one message, or nothing when it is not a JSON object. A repeated key is
    // refused before Qt's parser sees it (the parser leaks on it).
    static std::optional<QJsonObject> parse(const QByteArray& line);
    // One reply as it goes on the wire: {"command": command, "params": body} and a line feed.
    static QByteArray replyLine(const QString& command, const QJsonObject& body);
    // What the log shows of a reply: the same line without the upload ticket or download
    // link it may hold, since either lets whoever reads it move a file. `line` is the reply as
    // sent: shown as it is when it holds neither (a folder's listing can be megabytes).
    static QByteArray loggableReply(const QString& command, const QJsonObject& body, const QByteArray& line);
    // What the log shows of a command: typed text and clipboard text only as their length.
    static QJsonObject loggable(const QJsonObject& object);

private:
    std::vector<std::unique_ptr<CommandHandler>> m_handlers;
    QHash<QString, CommandHandler*> m_byName;
};
