#include "ApiRoutes.h"

#include "MultipartParser.h"
#include "Sha256.h"
#include "UploadReceiver.h"

#include <charconv>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace devserver {

namespace {

constexpr std::size_t maxJsonBody = 1024 * 1024;

HttpResponse jsonAnswer(int status, const json &value)
{
    HttpResponse response;
    response.status = status;
    response.body = value.dump();
    return response;
}

std::optional<int64_t> parseId(const std::string &text)
{
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Reads a small JSON body; nullopt (with `failure` set) when it is too big,
// cut short or not a JSON object.
std::optional<json> readJsonObject(BodyReader &body, HttpResponse &failure)
{
    std::string text;
    char buffer[16 * 1024];
    for (;;) {
        const long got = body.read(buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            failure = jsonError(400, "Incomplete request body");
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxJsonBody) {
            failure = jsonError(413, "Request body too large");
            return std::nullopt;
        }
    }
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        failure = jsonError(400, "Malformed JSON");
        return std::nullopt;
    }
    return value;
}

json folderJson(const FolderRecord &folder)
{
    json value = {{"id", folder.folder.id},
                  {"name", folder.folder.name},
                  {"path", folder.path},
                  {"document_count", folder.documentCount},
                  {"created_at", folder.createdAt},
                  {"updated_at", folder.updatedAt}};
    value["parent_id"] = folder.folder.parentId ? json(*folder.folder.parentId) : json(nullptr);
    return value;
}

json documentJson(const DocumentRecord &record)
{
    const auto &d = record.document;
    return {{"id", d.id},
            {"name", d.name},
            {"description", nullptr},
            {"file_hash", d.fileHash},
            {"file_size", d.fileSize},
            {"content_type", record.contentType},
            {"folder_id", d.folderId},
            {"version", d.version},
            {"status", "active"},
            {"visibility", "private"},
            {"created_at", d.createdAt},
            {"updated_at", d.updatedAt}};
}

json syncDocumentJson(const DocumentRecord &record)
{
    const auto &d = record.document;
    return {{"id", d.id},
            {"name", d.name},
            {"file_hash", d.fileHash},
            {"file_size", d.fileSize},
            {"content_type", record.contentType},
            {"folder_id", d.folderId},
            {"updated_at", d.updatedAt},
            {"created_at", d.createdAt}};
}

std::string bearerToken(const HttpRequest &request)
{
    const std::string header = request.header("authorization");
    const std::string scheme = "Bearer ";
    if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0)
        return {};
    return header.substr(scheme.size());
}

} // namespace

HttpResponse jsonError(int status, const std::string &message)
{
    return jsonAnswer(status, json{{"error", message}});
}

namespace {

enum class Route { Unknown, Login, Logout, Folders, Documents, SyncStatus, Document, DocumentDownload, File };

// Which endpoint a path names, with the document id or link token in it.
Route routeOf(const std::string &path, int64_t &documentId, std::string &fileToken)
{
    if (path.rfind("/files/", 0) == 0) {
        fileToken = path.substr(7);
        return Route::File;
    }
    if (path == "/api/v1/auth/login") return Route::Login;
    if (path == "/api/v1/auth/logout") return Route::Logout;
    if (path == "/api/v1/folders") return Route::Folders;
    if (path == "/api/v1/documents") return Route::Documents;
    if (path == "/api/v1/sync/status") return Route::SyncStatus;
    const std::string documentsPrefix = "/api/v1/documents/";
    if (path.rfind(documentsPrefix, 0) != 0)
        return Route::Unknown;
    std::string rest = path.substr(documentsPrefix.size());
    const std::string suffix = "/download";
    const bool download = rest.size() > suffix.size() && rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (download)
        rest.resize(rest.size() - suffix.size());
    const auto id = parseId(rest);
    if (!id)
        return Route::Unknown;
    documentId = *id;
    return download ? Route::DocumentDownload : Route::Document;
}

} // namespace

HttpResponse ApiRoutes::handle(const HttpRequest &request, BodyReader &body)
{
    const std::string &method = request.method;
    int64_t documentId = 0;
    std::string fileToken;
    const Route route = routeOf(request.path, documentId, fileToken);
    const HttpResponse notAllowed = jsonError(405, "Method not allowed");

    switch (route) {
    case Route::Unknown:
        return jsonError(404, "Not found");
    case Route::File:
        return method == "GET" || method == "HEAD" ? serveFile(fileToken) : notAllowed;
    case Route::Login:
        return method == "POST" ? login(body) : notAllowed;
    default:
        break;
    }

    const auto user = m_store.userForToken(bearerToken(request));
    if (!user)
        return jsonError(401, "Authentication required");

    switch (route) {
    case Route::Logout:
        return method == "DELETE" ? logout(request) : notAllowed;
    case Route::Folders:
        if (method == "GET")
            return listFolders(*user);
        return method == "POST" ? createFolder(*user, body) : notAllowed;
    case Route::Documents:
        return method == "POST" ? upload(*user, request, body) : notAllowed;
    case Route::SyncStatus:
        return method == "GET" ? syncStatus(*user, request) : notAllowed;
    case Route::DocumentDownload:
        return method == "GET" ? downloadLink(*user, request, documentId) : notAllowed;
    case Route::Document:
        return method == "DELETE" ? deleteDocument(*user, documentId, request) : notAllowed;
    default:
        return jsonError(404, "Not found");
    }
}

HttpResponse ApiRoutes::login(BodyReader &body)
{
    HttpResponse failure;
    const auto request = readJsonObject(body, failure);
    if (!request)
        return failure;
    const auto email = request->find("email");
    const auto password = request->find("password");
    if (email == request->end() || password == request->end() || !email->is_string() || !password->is_string())
        return jsonError(400, "Email and password are required");
    const auto token = m_store.login(email->get<std::string>(), password->get<std::string>());
    if (!token)
        return jsonError(401, "Invalid email or password");
    const auto user = m_store.user(email->get<std::string>());
    json userJson = {{"id", user->id},
                     {"email", user->email},
                     {"display_name", user->displayName},
                     {"organization", user->organization}};
    userJson["first_name"] = user->firstName ? json(*user->firstName) : json(nullptr);
    userJson["last_name"] = user->lastName ? json(*user->lastName) : json(nullptr);
    return jsonAnswer(200, json{{"token", *token}, {"user", userJson}});
}

HttpResponse ApiRoutes::logout(const HttpRequest &request)
{
    m_store.revokeToken(bearerToken(request));
    return jsonAnswer(200, json{{"message", "Logged out"}});
}

HttpResponse ApiRoutes::listFolders(const std::string &user)
{
    json list = json::array();
    for (const auto &folder : m_store.folders(user))
        list.push_back(folderJson(folder));
    return jsonAnswer(200, list);
}

HttpResponse ApiRoutes::createFolder(const std::string &user, BodyReader &body)
{
    HttpResponse failure;
    const auto request = readJsonObject(body, failure);
    if (!request)
        return failure;
    const auto name = request->find("name");
    if (name == request->end() || !name->is_string() || name->get<std::string>().empty())
        return jsonError(400, "Folder name is required");
    std::optional<int64_t> parentId;
    const auto parent = request->find("parent_id");
    if (parent != request->end() && !parent->is_null()) {
        if (!parent->is_number_integer())
            return jsonError(400, "parent_id must be an integer");
        parentId = parent->get<int64_t>();
    }
    const auto created = m_store.createFolder(user, name->get<std::string>(), parentId);
    if (!created)
        return jsonError(404, "Parent folder not found");
    return jsonAnswer(created->second ? 201 : 200, folderJson(created->first));
}

namespace {

// The version a deletion means: "If-Match" with the content hash as the
// entity tag ("*" or no header: whatever is held).
Expectation deletionExpectation(const HttpRequest &request)
{
    Expectation expected;
    const std::string tag = request.header("if-match");
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"')
        expected.hash = tag.substr(1, tag.size() - 2);
    else if (tag != "*")
        expected.hash = tag;
    return expected;
}

// What an upload means to replace: "X-Tavrel-Replaces" with the content
// hash of that version, or "none" for a new document (no header: whatever
// is held).
Expectation uploadExpectation(const HttpRequest &request)
{
    Expectation expected;
    const std::string replaces = request.header("x-tavrel-replaces");
    if (replaces == "none")
        expected.noDocument = true;
    else
        expected.hash = replaces;
    return expected;
}

} // namespace

HttpResponse ApiRoutes::upload(const std::string &user, const HttpRequest &request, BodyReader &body)
{
    const auto boundary = MultipartParser::boundaryFrom(request.header("content-type"));
    if (!boundary)
        return jsonError(400, "Expected multipart/form-data with a boundary");

    UploadReceiver receiver(m_store.newTempPath());
    if (const auto error = receiver.receive(*boundary, body))
        return jsonError(400, *error);

    const auto &fields = receiver.fields();
    const auto name = fields.find("name");
    const auto folderField = fields.find("folder_id");
    if (!receiver.hasFile())
        return jsonError(400, "Missing file part");
    if (name == fields.end() || name->second.empty())
        return jsonError(400, "Missing document name");
    if (folderField == fields.end())
        return jsonError(400, "Missing folder_id");
    const auto folderId = parseId(folderField->second);
    if (!folderId)
        return jsonError(400, "folder_id must be an integer");

    const auto stored =
        m_store.storeUpload(user, *folderId, name->second, receiver.content(), std::nullopt, uploadExpectation(request));
    if (!stored)
        return jsonError(404, "Folder not found");
    if (stored->changed)
        return jsonError(412, "Document changed since that version");
    receiver.release();
    return jsonAnswer(stored->created ? 201 : 200, documentJson(stored->record));
}

HttpResponse ApiRoutes::syncStatus(const std::string &user, const HttpRequest &request)
{
    const auto parameters = request.queryParameters();
    const auto folderText = parameters.find("folder_id");
    if (folderText == parameters.end())
        return jsonError(400, "folder_id is required");
    const auto folderId = parseId(folderText->second);
    if (!folderId)
        return jsonError(400, "folder_id must be an integer");
    std::optional<Micros> since;
    if (const auto sinceText = parameters.find("since"); sinceText != parameters.end()) {
        since = parseTime(sinceText->second);
        if (!since)
            return jsonError(400, "Invalid since time: " + sinceText->second);
    }
    const auto snapshot = m_store.syncStatus(user, *folderId, since);
    if (!snapshot)
        return jsonError(404, "Folder not found");

    json documents = json::array();
    for (const auto &record : snapshot->documents)
        documents.push_back(syncDocumentJson(record));
    return jsonAnswer(200, json{{"server_time", microsText(snapshot->serverTime)},
                                {"folder",
                                 {{"id", snapshot->folder.folder.id},
                                  {"name", snapshot->folder.folder.name},
                                  {"path", snapshot->folder.path}}},
                                {"documents", documents},
                                {"deleted_ids", snapshot->deletedIds}});
}

HttpResponse ApiRoutes::downloadLink(const std::string &user, const HttpRequest &request, int64_t documentId)
{
    const auto token = m_store.createDownloadLink(user, documentId, m_downloadLinkSeconds);
    if (!token)
        return jsonError(404, "Document not found");
    // The link names the host the client reached us by, so it works from
    // wherever the client sits.
    const std::string host = request.header("host");
    const std::string origin = host.empty() ? m_fallbackOrigin : "http://" + host;
    return jsonAnswer(200, json{{"download_url", origin + "/files/" + *token}});
}

HttpResponse ApiRoutes::deleteDocument(const std::string &user, int64_t documentId, const HttpRequest &request)
{
    switch (m_store.deleteDocument(user, documentId, deletionExpectation(request))) {
    case Store::Deletion::notFound:
        return jsonError(404, "Document not found");
    case Store::Deletion::changed:
        return jsonError(412, "Document changed since that version");
    case Store::Deletion::deleted:
        break;
    }
    return jsonAnswer(200, json{{"deleted", true}, {"archived", false}});
}

HttpResponse ApiRoutes::serveFile(const std::string &token)
{
    const auto target = m_store.resolveDownloadLink(token);
    if (!target)
        return jsonError(404, "Download link expired or unknown");
    HttpResponse response;
    response.contentType = target->contentType;
    response.file = target->file;
    response.fileSize = target->size;
    return response;
}

} // namespace devserver
