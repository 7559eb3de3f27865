#include "remote/FileHandler.h"

#include "remote/PhoneFiles.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonObject>

#include <cmath>

FileHandler::FileHandler(CommandContext* pushes)
    : m_pushes(pushes)
{
}

QStringList FileHandler::commands() const
{
    return {QStringLiteral("uploadticket")};
}

void FileHandler::handle(const QString& command, const QJsonObject& params, CommandContext& context)
{
    if (command == QLatin1String("uploadticket"))
        uploadTicket(params, context);
}

void FileHandler::uploadTicket(const QJsonObject& params, CommandContext& context)
{
    const QJsonValue id = params.value(QLatin1String("id"));
    if (!(id.isDouble() || (id.isString() && id.toString().size() <= MaxIdLength))) {
        qWarning() << "uploadticket: invalid request ignored: \"id\" must be a number or a short text";
        return;
    }
    // Strict, as for the volume: a fraction, a text or a negative size is a faulty phone.
    const QJsonValue size = params.value(QLatin1String("size"));
    const double bytes = size.isDouble() ? size.toDouble() : -1;
    if (bytes < 0 || std::floor(bytes) != bytes) {
        qWarning() << "uploadticket: invalid request ignored: \"size\" must be a whole number of bytes";
        return;
    }
    const QHostAddress phone = context.senderAddress();
    if (m_files == nullptr || phone.isNull()) {
        qDebug() << "uploadticket: no ticket, nobody to receive the file or the phone has gone";
        return;
    }
    QJsonObject body{{QStringLiteral("id"), id}};
    // Compared as a double first: a size beyond qint64 must not be converted at all.
    const QString refusal =
        bytes > double(m_files->maxBytes()) ? QStringLiteral("tooLarge") : m_files->refusalFor(qint64(bytes));
    if (refusal.isEmpty())
        body.insert(QStringLiteral("ticket"), QString::fromLatin1(m_files->issueTicket(phone)));
    else
        body.insert(QStringLiteral("error"), refusal);
    body.insert(QStringLiteral("maxBytes"), double(m_files->maxBytes()));
    context.reply(QStringLiteral("uploadticket"), body);
}

bool FileHandler::offer(const QString& path, const QHostAddress& phone)
{
    if (m_files == nullptr || phone.isNull())
        return false;
    const QJsonObject body = m_files->offerTo(path, phone);
    if (body.isEmpty())
        return false;
    m_pushes->reply(QStringLiteral("fileoffer"), body);
    return true;
}
