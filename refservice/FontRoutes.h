#pragma once

#include <memory>

namespace tavo::refservice {

class RouteBinder;
class ServiceContext;

// /install-fonts (the paged font list) and /fonts/{fontId} (the stamped
// font file, or an envelope with a 4xx status).
class FontRoutes {
public:
    static void install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context);
};

}  // namespace tavo::refservice
