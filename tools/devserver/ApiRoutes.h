#pragma once

#include "HttpServer.h"
#include "Store.h"

namespace devserver {

// The REST interface of the document service on top of a Store.
class ApiRoutes {
public:
    ApiRoutes(Store &store, int downloadLinkSeconds) : m_store(store), m_downloadLinkSeconds(downloadLinkSeconds) {}

    // Used for download links when a request names no Host.
    void setFallbackOrigin(std::string origin) { m_fallbackOrigin = std::move(origin); }

    HttpResponse handle(const HttpRequest &request, BodyReader &body);

private:
    HttpResponse login(BodyReader &body);
    HttpResponse logout(const HttpRequest &request);
    HttpResponse listFolders(const std::string &user);
    HttpResponse createFolder(const std::string &user, BodyReader &body);
    HttpResponse upload(const std::string &user, const HttpRequest &request, BodyReader &body);
    HttpResponse syncStatus(const std::string &user, const HttpRequest &request);
    HttpResponse downloadLink(const std::string &user, const HttpRequest &request, int64_t documentId);
    HttpResponse deleteDocument(const std::string &user, int64_t documentId, const HttpRequest &request);
    HttpResponse serveFile(const std::string &token);

    Store &m_store;
    int m_downloadLinkSeconds;
    std::string m_fallbackOrigin = "http://127.0.0.1";
};

HttpResponse jsonError(int status, const std::string &message);

} // namespace devserver
