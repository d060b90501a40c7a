#pragma once

#include <memory>

namespace tavo::refservice {

class RouteBinder;
class ServiceContext;

// /client-apps/version (the version this machine is to run),
// /client-apps/update-info (the version offered next) and the archive
// downloads the latter points at.
class ClientAppRoutes {
public:
    static void install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context);
    static std::string archiveName(const std::string& version);
};

}  // namespace tavo::refservice
