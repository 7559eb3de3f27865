#pragma once

#include "remote/CommandHandler.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QPair>
#include <QVector>

// A phone that keeps every answer a handler gives it, now or later, in order.
class RecordingContext final : public CommandContext
{
public:
    void reply(const QString& command, const QJsonObject& body) override { answers.append({command, body}); }
    void logActivity(const QString&) override {}
    bool hasPhone() const override { return true; }
    Reply laterReply() override
    {
        return [this](const QString& command, const QJsonObject& body) {
            reply(command, body);
        };
    }
    const void* sender() const override { return this; }
    QHostAddress senderAddress() const override { return QHostAddress::LocalHost; }

    QVector<QPair<QString, QJsonObject>> answers;
};
