#include "data/MediaService.h"

#include "data/ServiceInstance.h"

MediaService* MediaService::instance()
{
    return ServiceInstance<MediaService>::get();
}

void MediaService::load()
{
    selectAll(m_folders);
}
