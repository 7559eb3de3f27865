#pragma once

#include "remote/CommandHandler.h"

class PhoneFiles;
class QHostAddress;

// Files between a phone app and the PC, the way the web client has them:
//   "uploadticket" {"id": number or string, "size": bytes}  answered with "uploadticket"
//       {"id", "ticket", "maxBytes"}, or {"id", "error", "maxBytes"} when the file cannot come;
//       the ticket lets the asking address POST the file to the web port once, within a minute.
//   "fileoffer" pushed unasked when the user sends a file: {"name", "size", "url"}, the url
//       ("download/<token>") serving only the address of the phone it was pushed to.
// A request with a missing or malformed value is logged and ignored.
class FileHandler final : public CommandHandler
{
public:
    // `pushes` is where offers go (the current phone).
    explicit FileHandler(CommandContext* pushes);

    // The receiving and serving side; not owned, and it must outlive the handler. Without it
    // no ticket is issued and nothing is offered.
    void setFiles(PhoneFiles* files) { m_files = files; }

    // Offers the file at `path` to the phone at `phone` (the current one); false when there is
    // nothing to offer it with or the file cannot be read.
    bool offer(const QString& path, const QHostAddress& phone);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

    // Longest "id" text taken: it only comes back in the answer.
    static constexpr int MaxIdLength = 64;

private:
    void uploadTicket(const QJsonObject& params, CommandContext& context);

    CommandContext* m_pushes;
    PhoneFiles* m_files = nullptr;
};
