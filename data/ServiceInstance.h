#pragma once

#include <memory>

// The process-wide instance of a cached service: made with std::make_shared during static
// initialisation and held for the life of the process. The function-local static keeps callers
// from other translation units safe from the initialisation order.
template <typename Service> class ServiceInstance
{
public:
    static Service* get()
    {
        static_cast<void>(s_created);
        return holder().get();
    }

private:
    static std::shared_ptr<Service>& holder()
    {
        static std::shared_ptr<Service> service = std::make_shared<Service>();
        return service;
    }
    static inline const bool s_created = holder() != nullptr;
};
