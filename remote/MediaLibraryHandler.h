#pragma once

#include "remote/CommandHandler.h"

class DesktopLinks;

// The media library: "mediaexplore" (answered with a listing of the registered media folders
// or of a folder below them) and "mediaopen" (a file below them, with the chosen player).
class MediaLibraryHandler : public CommandHandler
{
public:
    explicit MediaLibraryHandler(DesktopLinks* links);

    QStringList commands() const override;
    void handle(const QString& command, const QJsonObject& params, CommandContext& context) override;

private:
    void explore(const QJsonObject& params, CommandContext& context);
    void open(const QJsonObject& params);

    DesktopLinks* m_links;
};
