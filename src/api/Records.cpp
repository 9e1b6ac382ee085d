#include "api/Records.h"

#include "api/Errors.h"
#include "api/JsonLimits.h"
#include "api/SharedTexts.h"

#include <algorithm>
#include <istream>
#include <limits>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// The largest body of an answer that is one small record (a listing's
// bound, maxListingBytes, is in the header). Anything larger is not an
// answer the client can sensibly hold, and is refused unread.
constexpr qsizetype maxRecordBytes = 4 * 1024 * 1024;

// The largest file size taken from the service: the largest integer a JSON
// number holds exactly. Sizes are summed into progress totals, so they must
// stay far from the end of the 64-bit range.
constexpr qint64 maxFileSize = (qint64(1) << 53) - 1;

const char *typeName(const json &value)
{
    switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "an integer";
    case json::value_t::number_float: return "a fractional number";
    case json::value_t::string: return "text";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    default: return "an unknown value";
    }
}

[[noreturn]] void fail(const QString &record, const QString &problem)
{
    throw decodingError(record, problem);
}

// Reads the members of one JSON object with the strict rules of the wire
// records. `where` names the object inside the body ("user",
// "documents[3]") so that an error says which member was wrong.
class ObjectReader {
public:
    ObjectReader(const json &object, QString record, QString where)
        : m_object(object), m_record(std::move(record)), m_where(std::move(where))
    {
        if (!m_object.is_object())
            fail(m_record, QStringLiteral("%1 must be an object, not %2").arg(describeSelf(), typeName(m_object)));
    }

    QString text(const char *key) const { return asText(key, required(key)); }
    std::optional<QString> optionalText(const char *key) const
    {
        const json *value = optional(key);
        return value ? std::optional(asText(key, *value)) : std::nullopt;
    }
    qint64 integer(const char *key) const { return asInteger(key, required(key)); }
    std::optional<qint64> optionalInteger(const char *key) const
    {
        const json *value = optional(key);
        return value ? std::optional(asInteger(key, *value)) : std::nullopt;
    }
    // A byte or item count: an integer from 0 to maxFileSize.
    std::optional<qint64> optionalCount(const char *key) const
    {
        const std::optional<qint64> value = optionalInteger(key);
        if (value && (*value < 0 || *value > maxFileSize))
            fail(m_record, QStringLiteral("\"%1\" is out of range (%2)").arg(memberName(key)).arg(*value));
        return value;
    }
    bool boolean(const char *key) const
    {
        const json &value = required(key);
        if (!value.is_boolean())
            wrongType(key, "true or false", value);
        return value.get<bool>();
    }
    ObjectReader object(const char *key, const QString &record) const
    {
        const json &value = required(key);
        if (!value.is_object())
            wrongType(key, "an object", value);
        return ObjectReader(value, record, memberName(key));
    }
    const json &array(const char *key) const
    {
        const json &value = required(key);
        if (!value.is_array())
            wrongType(key, "an array", value);
        return value;
    }
    QString memberName(const char *key) const
    {
        return m_where.isEmpty() ? QString::fromUtf8(key) : m_where + QLatin1Char('.') + QString::fromUtf8(key);
    }
    const QString &record() const { return m_record; }

    static qint64 integerValue(const QString &record, const QString &name, const json &value)
    {
        if (value.is_number_integer()) {
            if (value.is_number_unsigned()
                && value.get<json::number_unsigned_t>() > json::number_unsigned_t(std::numeric_limits<qint64>::max()))
                fail(record, QStringLiteral("\"%1\" does not fit a 64-bit integer").arg(name));
            return value.get<qint64>();
        }
        fail(record, QStringLiteral("\"%1\" must be an integer, not %2").arg(name, typeName(value)));
    }

private:
    QString describeSelf() const
    {
        return m_where.isEmpty() ? QStringLiteral("the body") : QStringLiteral("\"%1\"").arg(m_where);
    }
    const json &required(const char *key) const
    {
        const auto found = m_object.find(key);
        if (found == m_object.end())
            fail(m_record, QStringLiteral("\"%1\" is missing").arg(memberName(key)));
        if (found->is_null())
            fail(m_record, QStringLiteral("\"%1\" is null").arg(memberName(key)));
        return *found;
    }
    const json *optional(const char *key) const
    {
        const auto found = m_object.find(key);
        return found == m_object.end() || found->is_null() ? nullptr : &*found;
    }
    [[noreturn]] void wrongType(const char *key, const char *expected, const json &value) const
    {
        fail(m_record, QStringLiteral("\"%1\" must be %2, not %3").arg(memberName(key), QString::fromUtf8(expected),
                                                                          QString::fromUtf8(typeName(value))));
    }
    QString asText(const char *key, const json &value) const
    {
        if (!value.is_string())
            wrongType(key, "text", value);
        return QString::fromStdString(value.get_ref<const std::string &>());
    }
    qint64 asInteger(const char *key, const json &value) const
    {
        return integerValue(m_record, memberName(key), value);
    }

    const json &m_object;
    QString m_record;
    QString m_where;
};

// Runs `parse` (nlohmann's parser over some input), with its errors told
// as the record's.
template <typename Parse>
json parseJson(const QString &record, Parse parse)
{
    try {
        return parse();
    } catch (const json::exception &error) {
        // Any of nlohmann's errors: a syntax error, and also a number too
        // large for a double (out_of_range), wherever it stands. Drop the
        // "[json.exception.parse_error.101] " tag; the rest says where and
        // what.
        QString detail = QString::fromUtf8(error.what());
        if (const int tagEnd = detail.indexOf(QLatin1String("] ")); detail.startsWith(QLatin1Char('[')) && tagEnd > 0)
            detail = detail.mid(tagEnd + 2);
        fail(record, QStringLiteral("the body is not valid JSON (%1)").arg(detail));
    }
}

json parseBody(const QByteArray &body, const QString &record, qsizetype maxBytes = maxRecordBytes)
{
    if (body.size() > maxBytes)
        throw bodyTooLarge(record, body.size(), maxBytes);
    if (!JsonLimits::nestingWithin(body.constData(), std::size_t(body.size())))
        fail(record, QStringLiteral("the body nests deeper than %1 levels").arg(JsonLimits::maxNesting));
    return parseJson(record, [&] { return json::parse(body.constBegin(), body.constEnd()); });
}

UserInfo readUser(const ObjectReader &in)
{
    UserInfo user;
    user.id = in.integer("id");
    user.email = in.text("email");
    user.firstName = in.optionalText("first_name");
    user.lastName = in.optionalText("last_name");
    user.displayName = in.text("display_name");
    user.organization = in.text("organization");
    return user;
}

SyncDocument readSyncDocument(const ObjectReader &in)
{
    SyncDocument document;
    document.id = in.integer("id");
    document.name = in.text("name");
    if (const auto hash = in.optionalText("file_hash"))
        document.fileHash = ContentHash(*hash);
    document.fileSize = in.optionalCount("file_size");
    document.contentType = in.optionalText("content_type");
    document.folderId = in.optionalInteger("folder_id");
    document.updatedAt = in.text("updated_at");
    document.createdAt = in.text("created_at");
    return document;
}

SyncFolder readSyncFolder(const ObjectReader &in)
{
    return SyncFolder{in.integer("id"), in.text("name"), in.optionalText("path")};
}

FolderResponse readFolder(const ObjectReader &in)
{
    FolderResponse folder;
    folder.id = in.integer("id");
    folder.name = in.text("name");
    folder.path = in.optionalText("path");
    folder.parentId = in.optionalInteger("parent_id");
    folder.documentCount = in.optionalCount("document_count");
    folder.createdAt = in.optionalText("created_at");
    folder.updatedAt = in.optionalText("updated_at");
    return folder;
}

// Decodes a body that is one JSON object with `read`.
template <typename Read>
auto decodeObject(const QByteArray &body, const char *record, Read read, qsizetype maxBytes = maxRecordBytes)
{
    const QString name = QString::fromUtf8(record);
    const json value = parseBody(body, name, maxBytes);
    return read(ObjectReader(value, name, QString()));
}

} // namespace

DecodingError decodingError(const QString &record, const QString &problem)
{
    return DecodingError(QStringLiteral("Cannot read the %1 in the server's answer: %2").arg(record, problem));
}

DecodingError bodyTooLarge(const QString &record, qint64 size, qint64 maxBytes)
{
    return decodingError(record, QStringLiteral("the body is too large (%1 bytes, at most %2 are read)").arg(size).arg(maxBytes));
}

QByteArray LoginRequest::encode() const
{
    nlohmann::ordered_json body;
    body["email"] = email.toStdString();
    body["password"] = password.toStdString();
    return QByteArray::fromStdString(body.dump());
}

template <>
UserInfo decodeBody<UserInfo>(const QByteArray &body)
{
    return decodeObject(body, "user", readUser);
}

template <>
LoginResponse decodeBody<LoginResponse>(const QByteArray &body)
{
    return decodeObject(body, "sign-in answer", [](const ObjectReader &in) {
        LoginResponse response;
        response.token = in.text("token");
        response.user = readUser(in.object("user", in.record()));
        return response;
    });
}

template <>
LogoutResponse decodeBody<LogoutResponse>(const QByteArray &body)
{
    return decodeObject(body, "sign-out answer", [](const ObjectReader &in) {
        return LogoutResponse{in.text("message")};
    });
}

template <>
ErrorResponse decodeBody<ErrorResponse>(const QByteArray &body)
{
    return decodeObject(body, "error answer", [](const ObjectReader &in) {
        return ErrorResponse{in.text("error")};
    });
}

template <>
DocumentResponse decodeBody<DocumentResponse>(const QByteArray &body)
{
    return decodeObject(body, "document", [](const ObjectReader &in) {
        DocumentResponse document;
        document.id = in.integer("id");
        document.name = in.text("name");
        document.description = in.optionalText("description");
        document.fileHash = in.optionalText("file_hash");
        document.fileSize = in.optionalCount("file_size");
        document.contentType = in.optionalText("content_type");
        document.visibility = in.optionalText("visibility");
        document.status = in.optionalText("status");
        document.folderId = in.optionalInteger("folder_id");
        document.version = in.optionalInteger("version");
        document.createdAt = in.text("created_at");
        document.updatedAt = in.text("updated_at");
        return document;
    });
}

template <>
SyncDocument decodeBody<SyncDocument>(const QByteArray &body)
{
    return decodeObject(body, "sync document", readSyncDocument);
}

template <>
SyncFolder decodeBody<SyncFolder>(const QByteArray &body)
{
    return decodeObject(body, "sync folder", readSyncFolder);
}

namespace {

// A whole body read through the stream interface the decoder of an answer
// still arriving also uses, without a copy.
class WholeBody : public std::streambuf {
public:
    explicit WholeBody(const QByteArray &body)
    {
        char *data = const_cast<char *>(body.constData()); // only read
        setg(data, data, data + body.size());
    }
};

} // namespace

template <>
SyncStatusResponse decodeBody<SyncStatusResponse>(const QByteArray &body)
{
    if (body.size() > maxListingBytes)
        throw bodyTooLarge(QStringLiteral("sync status"), body.size(), maxListingBytes);
    WholeBody buffer(body);
    std::istream stream(&buffer);
    return decodeSyncStatus(stream);
}

SyncStatusResponse decodeSyncStatus(std::istream &body, const SyncDocumentSink &each)
{
    // A whole folder's answer lists every document (100,000 make some 30
    // MiB). Each listed document and deleted id is decoded as soon as the
    // parser has read it and then dropped from the tree, so the answer is
    // never held as a whole JSON tree beside its records.
    const QString record = QStringLiteral("sync status");
    SyncStatusResponse status;
    enum class Listing { none, documents, deletedIds };
    Listing listing = Listing::none;
    bool topIsObject = false;
    std::string topKey;
    std::size_t index = 0;
    bool documentsSeen = false;
    bool deletedIdsSeen = false;
    // The types and times that many documents share are held once.
    SharedTexts texts;
    const json::parser_callback_t take = [&](int depth, json::parse_event_t event, json &parsed) {
        using Event = json::parse_event_t;
        // The body is read as it comes, so its nesting is bounded here
        // rather than by a look at the whole body first.
        if ((event == Event::object_start || event == Event::array_start) && depth >= JsonLimits::maxNesting)
            fail(record, QStringLiteral("the body nests deeper than %1 levels").arg(JsonLimits::maxNesting));
        if (depth == 0 && event == Event::object_start)
            topIsObject = true;
        if (!topIsObject)
            return true;
        if (depth == 1 && event == Event::key) {
            topKey = parsed.get<std::string>();
            return true;
        }
        if (depth == 1 && event == Event::array_start) {
            // A list named twice is refused: its documents may already be
            // handed on, and which of the two the server meant is unknown.
            index = 0;
            if (topKey == "documents" || topKey == "deleted_ids") {
                bool &seen = topKey == "documents" ? documentsSeen : deletedIdsSeen;
                if (seen)
                    fail(record, QStringLiteral("%1 is given twice").arg(QString::fromStdString(topKey)));
                seen = true;
                listing = topKey == "documents" ? Listing::documents : Listing::deletedIds;
            }
            return true;
        }
        if (depth == 1 && event == Event::array_end) {
            listing = Listing::none;
            return true;
        }
        const bool elementDone = depth == 2
            && (event == Event::value || event == Event::object_end || event == Event::array_end);
        if (!elementDone || listing == Listing::none)
            return true;
        if (listing == Listing::documents) {
            const QString where = QStringLiteral("documents[%1]").arg(index++);
            SyncDocument document = readSyncDocument(ObjectReader(parsed, record, where));
            document.updatedAt = texts.take(document.updatedAt);
            document.createdAt = texts.take(document.createdAt);
            if (document.contentType)
                document.contentType = texts.take(*document.contentType);
            if (each)
                each(std::move(document));
            else
                status.documents.push_back(std::move(document));
        } else {
            const QString where = QStringLiteral("deleted_ids[%1]").arg(index++);
            status.deletedIds.push_back(ObjectReader::integerValue(record, where, parsed));
        }
        return false;
    };
    const json value = parseJson(record, [&] { return json::parse(body, take); });
    const ObjectReader in(value, record, QString());
    status.serverTime = in.text("server_time");
    status.folder = readSyncFolder(in.object("folder", record));
    // Present and arrays (their elements were taken above, and dropped).
    in.array("documents");
    in.array("deleted_ids");
    return status;
}

template <>
FolderResponse decodeBody<FolderResponse>(const QByteArray &body)
{
    return decodeObject(body, "folder", readFolder);
}

template <>
std::vector<FolderResponse> decodeBody<std::vector<FolderResponse>>(const QByteArray &body)
{
    const QString record = QStringLiteral("folder list");
    const json value = parseBody(body, record, maxListingBytes);
    if (!value.is_array())
        fail(record, QStringLiteral("the body must be an array, not %1").arg(typeName(value)));
    std::vector<FolderResponse> folders;
    folders.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i)
        folders.push_back(readFolder(ObjectReader(value[i], record, QStringLiteral("[%1]").arg(i))));
    return folders;
}

template <>
DownloadResponse decodeBody<DownloadResponse>(const QByteArray &body)
{
    return decodeObject(body, "download link", [](const ObjectReader &in) {
        return DownloadResponse{in.text("download_url")};
    });
}

template <>
DeleteResponse decodeBody<DeleteResponse>(const QByteArray &body)
{
    return decodeObject(body, "deletion answer", [](const ObjectReader &in) {
        return DeleteResponse{in.boolean("deleted"), in.boolean("archived")};
    });
}
