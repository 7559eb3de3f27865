#include "data/MediaService.h"

namespace {

std::shared_ptr<MediaService>& holder()
{
    static std::shared_ptr<MediaService> service = std::make_shared<MediaService>();
    return service;
}

// Created during static initialisation; the function-local static keeps callers from other
// translation units safe from the initialisation order.
const bool g_created = holder() != nullptr;

} // namespace

MediaService* MediaService::instance()
{
    Q_UNUSED(g_created)
    return holder().get();
}

void MediaService::load()
{
    selectAll(m_folders);
}
