#pragma once

#include <QStringList>

#include <functional>

class QHostAddress;
class QJsonObject;
class QString;

// What a command handler may do besides its own work: answer the phone that sent the command,
// and tell the activity log what it did.
class CommandContext
{
public:
    virtual ~CommandContext() = default;
    // Writes one reply envelope {"command": command, "params": body} to the phone that sent the
    // command; it goes nowhere (but is still logged) when that phone has gone.
    virtual void reply(const QString& command, const QJsonObject& body) = 0;
    // One human-readable activity line (the server's logMessage).
    virtual void logActivity(const QString& text) = 0;
    // Whether a phone is connected now, for handlers that push news unasked.
    virtual bool hasPhone() const = 0;

    using Reply = std::function<void(const QString& command, const QJsonObject& body)>;
    // For an answer that comes after an asynchronous step: it reaches the phone that sent the
    // command being run only while that phone is still connected, and is logged by size only.
    virtual Reply laterReply() = 0;
    // The phone that sent the command being run, to tell phones apart; null when it has gone.
    virtual const void* sender() const = 0;
    // Where the phone that sent the command being run connected from, for permissions bound
    // to its address; null when it has gone.
    virtual QHostAddress senderAddress() const = 0;
};

// The commands of one area (pointer and keys, media library, ...). The handler names the
// commands it takes; the command table routes each of them to it with the message's "params".
// A new command is one handler class and one line where the table is built (Server.cpp).
class CommandHandler
{
public:
    virtual ~CommandHandler() = default;
    // The exact, case-sensitive command names this handler takes.
    virtual QStringList commands() const = 0;
    // Runs `command`, one of commands(), with its parameters (empty when the message had none).
    virtual void handle(const QString& command, const QJsonObject& params, CommandContext& context) = 0;
};
