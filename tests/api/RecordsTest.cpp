// Strict decoding of the wire records and the one encoded body.
#include "api/Errors.h"
#include "api/Records.h"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const char *user = R"("user":{"id":7,"email":"a@b.c","display_name":"A B","organization":"Org")";
const char *doc = R"({"id":1,"name":"a.txt","updated_at":"2026-01-01T00:00:00Z","created_at":"2026-01-01T00:00:00Z")";
const char *folder = R"("folder":{"id":3,"name":"Work"})";

std::string status(const std::string &documents, const std::string &rest = R"(,"deleted_ids":[])")
{
    return std::string(R"({"server_time":"T",)") + folder + R"(,"documents":)" + documents + rest + "}";
}

struct Case {
    const char *label;
    std::function<void(const QByteArray &)> decode;
    std::string body;
    bool decodes;
    const char *mentions = ""; // the error names the faulty member
};

template <typename T>
std::function<void(const QByteArray &)> as()
{
    return [](const QByteArray &body) { (void)decodeBody<T>(body); };
}

} // namespace

TEST(RecordsTest, StrictDecodingAcceptsAndRejectsAsTheWireRulesSay)
{
    const std::vector<Case> cases{
        {"user with null and missing names", as<LoginResponse>(), std::string(R"({"token":"t",)") + user + R"(,"first_name":null}})", true},
        {"user without display_name", as<LoginResponse>(), R"({"token":"t","user":{"id":7,"email":"a","organization":"O"}})", false, "user.display_name"},
        {"token as a number", as<LoginResponse>(), std::string(R"({"token":5,)") + user + "}}", false, "token"},
        {"id as text", as<LoginResponse>(), R"({"token":"t","user":{"id":"7","email":"a","display_name":"d","organization":"O"}})", false, "user.id"},
        {"id beyond 64 bits", as<LoginResponse>(), R"({"token":"t","user":{"id":18446744073709551615,"email":"a","display_name":"d","organization":"O"}})", false, "user.id"},
        {"empty arrays", as<SyncStatusResponse>(), status("[]"), true},
        {"status without deleted_ids", as<SyncStatusResponse>(), status("[]", ""), false, "deleted_ids"},
        {"deleted id as text", as<SyncStatusResponse>(), status("[]", R"(,"deleted_ids":[1,"2"])"), false, "deleted_ids[1]"},
        {"one document without updated_at", as<SyncStatusResponse>(),
         status(std::string("[") + doc + R"(},{"id":2,"name":"b","created_at":"x"}])"), false, "documents[1].updated_at"},
        {"document file_size as text", as<SyncStatusResponse>(), status(std::string("[") + doc + R"(,"file_size":"12"}])"), false, "file_size"},
        {"document file_size null", as<SyncStatusResponse>(), status(std::string("[") + doc + R"(,"file_size":null}])"), true},
        {"documents as an object", as<SyncStatusResponse>(), status(std::string(R"({"a":[)") + doc + "}]}"), false, "documents"},
        {"a listed document that is a number", as<SyncStatusResponse>(), status(std::string("[") + doc + "},7]"), false, "documents[1]"},
        {"a status that is an array", as<SyncStatusResponse>(), "[" + status("[]") + "]", false, "object"},
        {"extra members at every level", as<SyncStatusResponse>(),
         R"({"x":1,"server_time":"T","folder":{"id":3,"name":"W","y":[]},"documents":[{"id":1,"name":"a","updated_at":"u","created_at":"c","z":{}}],"deleted_ids":[]})", true},
        {"folder without parent_id", as<FolderResponse>(), R"({"id":1,"name":"W"})", true},
        {"folder parent_id null", as<FolderResponse>(), R"({"id":1,"name":"W","parent_id":null,"created_at":null})", true},
        {"folder parent_id as text", as<FolderResponse>(), R"({"id":1,"name":"W","parent_id":"2"})", false, "parent_id"},
        {"folder list with a bad entry", as<std::vector<FolderResponse>>(), R"([{"id":1,"name":"W"},{"id":2}])", false, "[1].name"},
        {"document version fractional", as<DocumentResponse>(), R"({"id":1,"name":"a","updated_at":"u","created_at":"c","version":1.0})", false, "version"},
        {"deleted as 1", as<DeleteResponse>(), R"({"deleted":1,"archived":false})", false, "deleted"},
        {"required member null", as<DownloadResponse>(), R"({"download_url":null})", false, "download_url"},
        {"empty body", as<LogoutResponse>(), "", false},
        {"trailing garbage", as<LogoutResponse>(), R"({"message":"m"} x)", false},
        {"invalid UTF-8 in text", as<LogoutResponse>(), "{\"message\":\"\xff\"}", false},
        // 64 levels at most: the status answer is read as it arrives, so it
        // counts them as it goes rather than looking at the whole first.
        {"a status 64 levels deep", as<SyncStatusResponse>(),
         status(std::string("[") + doc + R"(,"x":)" + std::string(61, '[') + std::string(61, ']') + "}]"), true},
        {"a status 65 levels deep", as<SyncStatusResponse>(),
         status(std::string("[") + doc + R"(,"x":)" + std::string(62, '[') + std::string(62, ']') + "}]"), false, "nests deeper"},
        {"negative file_size", as<SyncStatusResponse>(), status(std::string("[") + doc + R"(,"file_size":-1}])"), false, "documents[0].file_size"},
        {"file_size near the end of 64 bits", as<DocumentResponse>(), R"({"id":1,"name":"a","updated_at":"u","created_at":"c","file_size":9223372036854775807})", false, "file_size"},
        {"file_size of 8 PiB", as<DocumentResponse>(), R"({"id":1,"name":"a","updated_at":"u","created_at":"c","file_size":9007199254740991})", true},
        {"negative document_count", as<FolderResponse>(), R"({"id":1,"name":"W","document_count":-3})", false, "document_count"},
        {"nesting 65 deep", as<LogoutResponse>(), R"({"message":"m","x":)" + std::string(64, '[') + std::string(64, ']') + "}", false, "deeper"},
        {"brackets inside text do not nest", as<LogoutResponse>(), R"({"message":")" + std::string(100, '[') + R"(\"{"})", true},
        {"an error answer of 5 MiB", as<ErrorResponse>(), R"({"error":")" + std::string(5 << 20, 'e') + R"("})", false, "too large"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        try {
            c.decode(QByteArray::fromStdString(c.body));
            EXPECT_TRUE(c.decodes) << "decoded although it should not";
        } catch (const DecodingError &error) {
            EXPECT_FALSE(c.decodes) << error.what();
            EXPECT_TRUE(error.description().contains(QString::fromUtf8(c.mentions))) << error.what();
        }
    }
}

TEST(RecordsTest, AStatusKeepsItsListsInOrderAndRefusesAListNamedTwice)
{
    const std::string body = std::string(R"({"deleted_ids":[3,4],"server_time":"T",)") + folder + R"(,"documents":[)"
        + doc + R"(,"file_hash":"h"},{"id":2,"name":"b.txt","updated_at":"u","created_at":"c","x":[[1]]}]})";
    const SyncStatusResponse decoded = decodeBody<SyncStatusResponse>(QByteArray::fromStdString(body));
    ASSERT_EQ(decoded.documents.size(), 2u);
    EXPECT_EQ(decoded.documents[0].name, "a.txt");
    EXPECT_EQ(decoded.documents[0].fileHash, "h");
    EXPECT_EQ(decoded.documents[1].id, 2);
    EXPECT_EQ(decoded.deletedIds, (std::vector<qint64>{3, 4}));
    EXPECT_EQ(decoded.folder.name, "Work");

    // Handed on one by one, the documents leave the answer's list empty.
    std::vector<qint64> handed;
    std::istringstream stream(body);
    const SyncStatusResponse streamed =
        decodeSyncStatus(stream, [&](SyncDocument &&document) { handed.push_back(document.id); });
    EXPECT_TRUE(streamed.documents.empty());
    EXPECT_EQ(handed, (std::vector<qint64>{1, 2}));
    EXPECT_EQ(streamed.deletedIds, decoded.deletedIds);

    // Documents already handed on cannot be taken back, so which of two
    // lists the server meant is not guessed.
    for (const char *twice : {R"(,"documents":[],"deleted_ids":[])", R"(,"deleted_ids":[],"deleted_ids":[5])"}) {
        try {
            decodeBody<SyncStatusResponse>(QByteArray::fromStdString(status("[]", twice)));
            ADD_FAILURE() << twice;
        } catch (const DecodingError &error) {
            EXPECT_TRUE(error.description().contains("is given twice")) << error.what();
        }
    }
}

TEST(RecordsTest, LoginRequestIsCompactWithEmailFirst)
{
    EXPECT_EQ(LoginRequest({"zed@x.y", ""}).encode(), R"({"email":"zed@x.y","password":""})");
    EXPECT_EQ(LoginRequest({"a\"b", "p\\w\n\xc3\xa9"}).encode(),
              QByteArray(R"({"email":"a\"b","password":"p\\w\n)") + "\xc3\xa9\"}");
}
