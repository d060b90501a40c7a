#include "refservice/FontRoutes.h"

#include "refservice/Envelope.h"
#include "refservice/Http.h"
#include "refservice/RouteBinder.h"
#include "refservice/ServiceContext.h"

namespace tavo::refservice {

namespace {

std::optional<std::string> query(const httplib::Request& req, const std::string& name) {
    if (!req.has_param(name))
        return std::nullopt;
    return req.get_param_value(name);
}

std::string quotedFileName(const std::string& fileName) {
    std::string quoted;
    for (char c : fileName) {
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
            quoted += c;
    }
    return "\"" + quoted + "\"";
}

}  // namespace

void FontRoutes::install(RouteBinder& routes, const std::shared_ptr<ServiceContext>& context) {
    const std::shared_ptr<ServiceContext>& c = context;

    routes.getAuthorised("/api/v1/install-fonts",
                         [c](const httplib::Request& req, const Caller& caller) {
                             return c->fonts.page(caller, query(req, "contains"),
                                                  query(req, "limit"), query(req, "offset"));
                         });
    routes.getAuthorisedRaw(R"(/api/v1/fonts/([^/]+))", [c](const httplib::Request& req,
                                                            httplib::Response& res,
                                                            const Caller& caller) {
        Outcome refusal;
        const auto download = c->fonts.download(caller, req.matches[1].str(), &refusal);
        if (!download) {
            Envelope::write(res, refusal, 404);
            return;
        }
        const auto bytes = FontFiles::bytes(download->bytes, download->filePath);
        if (!bytes) {
            Envelope::write(res, Outcome::failure(kInternalServerError, "the font file is lost"));
            return;
        }
        res.set_header("Content-Disposition",
                       "attachment; filename=" + quotedFileName(download->fileName));
        res.set_content(*bytes, "application/octet-stream");
    });
}

}  // namespace tavo::refservice
