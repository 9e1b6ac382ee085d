#pragma once

#include "api/ContentHash.h"
#include "api/Errors.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <iosfwd>
#include <optional>
#include <vector>

// The JSON bodies exchanged with the document service. Decoding is strict:
// required members must be present, non-null and of the exact JSON type;
// optional members read null and missing alike; unknown members are ignored;
// one bad nested member fails the whole body with DecodingError.

struct UserInfo {
    qint64 id = 0;
    QString email;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    QString displayName;
    QString organization;
    bool operator==(const UserInfo &) const = default;
};

struct LoginRequest {
    QString email;
    QString password;
    QByteArray encode() const; // {"email":...,"password":...}, compact, in that order
};

struct LoginResponse {
    QString token;
    UserInfo user;
};

struct LogoutResponse {
    QString message;
};

struct ErrorResponse {
    QString error;
};

struct DocumentResponse {
    qint64 id = 0;
    QString name;
    std::optional<QString> description;
    std::optional<QString> fileHash;
    std::optional<qint64> fileSize;
    std::optional<QString> contentType;
    std::optional<QString> visibility;
    std::optional<QString> status;
    std::optional<qint64> folderId;
    std::optional<qint64> version;
    QString createdAt;
    QString updatedAt;
};

struct SyncDocument {
    qint64 id = 0;
    QString name;
    std::optional<ContentHash> fileHash; // held as its 32 bytes: an answer may list 100,000
    std::optional<qint64> fileSize;
    std::optional<QString> contentType;
    std::optional<qint64> folderId;
    QString updatedAt;
    QString createdAt;
};

struct SyncFolder {
    qint64 id = 0;
    QString name;
    std::optional<QString> path;
};

struct SyncStatusResponse {
    QString serverTime;
    SyncFolder folder;
    // Grows by blocks as the answer is decoded: a list of 100,000 is never
    // held twice while it grows.
    std::deque<SyncDocument> documents;
    std::vector<qint64> deletedIds;
};

struct FolderResponse {
    qint64 id = 0;
    QString name;
    std::optional<QString> path;
    std::optional<qint64> parentId;
    std::optional<qint64> documentCount;
    std::optional<QString> createdAt;
    std::optional<QString> updatedAt;
};

struct DownloadResponse {
    QString downloadUrl;
};

struct DeleteResponse {
    bool deleted = false;
    bool archived = false;
};

// decodeBody<T>(bytes) decodes a whole response body as T or throws
// DecodingError. Specialised for every record above and for
// std::vector<FolderResponse> (the folder listing).
template <typename T>
T decodeBody(const QByteArray &body);

template <> UserInfo decodeBody<UserInfo>(const QByteArray &body);
template <> LoginResponse decodeBody<LoginResponse>(const QByteArray &body);
template <> LogoutResponse decodeBody<LogoutResponse>(const QByteArray &body);
template <> ErrorResponse decodeBody<ErrorResponse>(const QByteArray &body);
template <> DocumentResponse decodeBody<DocumentResponse>(const QByteArray &body);
template <> SyncDocument decodeBody<SyncDocument>(const QByteArray &body);
template <> SyncFolder decodeBody<SyncFolder>(const QByteArray &body);
template <> SyncStatusResponse decodeBody<SyncStatusResponse>(const QByteArray &body);
template <> FolderResponse decodeBody<FolderResponse>(const QByteArray &body);
template <> std::vector<FolderResponse> decodeBody<std::vector<FolderResponse>>(const QByteArray &body);
template <> DownloadResponse decodeBody<DownloadResponse>(const QByteArray &body);
template <> DeleteResponse decodeBody<DeleteResponse>(const QByteArray &body);

// The largest body of an answer that lists a folder (its status, or the
// folder listing). Such an answer grows with the number of documents
// (100,000 documents make some 30 MiB); a larger one is not an answer the
// client can sensibly hold, and is refused.
inline constexpr qint64 maxListingBytes = 256 * 1024 * 1024;

// Receives each document a status answer lists as soon as it is decoded,
// in place of the answer's list, which then stays empty: a caller that
// folds the documents into a map of its own never holds them all at once.
using SyncDocumentSink = std::function<void(SyncDocument &&)>;

// Decodes a status answer from `body` as it can be read (the stream may
// wait for more of it to arrive), or throws DecodingError. With `each`, the
// listed documents go to it one by one; whatever it was given counts for
// nothing if the answer then fails to decode.
SyncStatusResponse decodeSyncStatus(std::istream &body, const SyncDocumentSink &each = {});

// The error for an answer of `record` that cannot be read for `problem`.
DecodingError decodingError(const QString &record, const QString &problem);

// The error for an answer of `record` larger than `maxBytes` (`size` is
// what was received of it, at least).
DecodingError bodyTooLarge(const QString &record, qint64 size, qint64 maxBytes);
