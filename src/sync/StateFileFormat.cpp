// The JSON form of SyncState: how it is written and what a reader accepts.
#include "sync/SyncState.h"

#include "api/JsonLimits.h"
#include "api/SharedTexts.h"
#include "sync/PrettyJsonWriter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using json = nlohmann::json;

// Modification times are stored as seconds since 2001-01-01T00:00:00Z.
constexpr qint64 referenceDateMSecs = 978307200000LL;
// About 31,000 years either way: within it, milliseconds divided into
// seconds and multiplied back always give the same milliseconds (a double
// holds them with room to spare), so a time read back equals the one
// written. Times beyond are held at the bound when written.
constexpr double maxSecondsFromReferenceDate = 1.0e12;

double secondsSinceReferenceDate(const QDateTime &date)
{
    // An invalid date cannot come from the file system (an unreadable time
    // reads as now); writing the reference date keeps the file loadable.
    if (!date.isValid())
        return 0;
    const double seconds = double(date.toMSecsSinceEpoch() - referenceDateMSecs) / 1000.0;
    return std::clamp(seconds, -maxSecondsFromReferenceDate, maxSecondsFromReferenceDate);
}

QDateTime dateFromSecondsSinceReferenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)) + referenceDateMSecs,
                                          Qt::UTC);
}

QString text(const json &value)
{
    return QString::fromStdString(value.get_ref<const std::string &>());
}

// An integer, or a number with no fraction that fits one (as a decoder of
// integers accepts "12.0").
std::optional<qint64> integerValue(const json &value)
{
    // A number above the signed range is read as unsigned; converting it
    // would wrap round to a different (negative) id.
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(u);
    }
    if (value.is_number_integer())
        return value.get<qint64>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e18)
            return qint64(d);
    }
    return std::nullopt;
}

// Null and a missing member both mean "absent" for an optional member.
const json *optionalMember(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

// Throws when the entry lacks a required member or has one of a wrong type.
struct InvalidFile {};

const json &requiredMember(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        throw InvalidFile{};
    return *it;
}

QString requiredString(const json &object, const char *name)
{
    const json &value = requiredMember(object, name);
    if (!value.is_string())
        throw InvalidFile{};
    return text(value);
}

qint64 requiredInteger(const json &value)
{
    const auto integer = integerValue(value);
    if (!integer)
        throw InvalidFile{};
    return *integer;
}

std::optional<QString> optionalString(const json &object, const char *name)
{
    const json *value = optionalMember(object, name);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        throw InvalidFile{};
    return text(*value);
}

const json &requiredObject(const json &object, const char *name)
{
    const json &value = requiredMember(object, name);
    if (!value.is_object())
        throw InvalidFile{};
    return value;
}


TrackedFile decodeTrackedFile(const json &object, SharedTexts &texts)
{
    if (!object.is_object())
        throw InvalidFile{};
    TrackedFile file;
    file.localHash = requiredString(object, "localHash");
    file.remoteId = requiredInteger(requiredMember(object, "remoteId"));
    file.remoteHash = optionalString(object, "remoteHash");
    file.lastSynced = texts.take(requiredString(object, "lastSynced"));
    const json &modified = requiredMember(object, "localModified");
    // Beyond a few hundred thousand years the time no longer fits in
    // milliseconds; no file system gives such a time, so the file is bad.
    if (!modified.is_number() || !std::isfinite(modified.get<double>())
        || std::fabs(modified.get<double>()) > maxSecondsFromReferenceDate)
        throw InvalidFile{};
    file.localModified = dateFromSecondsSinceReferenceDate(modified.get<double>());
    // The file-system facts are an addition: one that does not read is left
    // out, which only costs one hash of the file.
    const auto fact = [&](const char *name) -> std::optional<qint64> {
        const json *value = optionalMember(object, name);
        return value ? integerValue(*value) : std::nullopt;
    };
    // A size below zero is no size at all.
    file.size = fact("size");
    if (file.size && *file.size < 0)
        file.size.reset();
    file.inode = fact("inode");
    file.modifiedNs = fact("modifiedNs");
    file.changedNs = fact("changedNs");
    file.recordedNs = fact("recordedNs");
    file.sentFromHere = fact("sentFromHere").value_or(0) == 1;
    return file;
}

// The remembered server folders are an addition as well: one that does not
// read is dropped alone (see decodeKnownDocument); that folder is then asked
// for everything again.
std::optional<std::pair<qint64, KnownDocument>> decodeKnownDocument(const std::string &idText, const json &entry,
                                                                   SharedTexts &texts)
{
    bool ok = false;
    const qint64 id = QString::fromStdString(idText).toLongLong(&ok);
    if (!ok || !entry.is_object())
        return std::nullopt;
    const json *name = optionalMember(entry, "name");
    const json *updatedAt = optionalMember(entry, "updatedAt");
    const json *fileHash = optionalMember(entry, "fileHash");
    if (!name || !name->is_string() || (updatedAt && !updatedAt->is_string())
        || (fileHash && !fileHash->is_string()))
        return std::nullopt;
    KnownDocument document;
    document.name = text(*name);
    document.updatedAt = updatedAt ? texts.take(text(*updatedAt)) : QString();
    if (fileHash)
        document.fileHash = text(*fileHash);
    if (const json *size = optionalMember(entry, "fileSize"))
        document.fileSize = integerValue(*size);
    if (document.fileSize && *document.fileSize < 0)
        document.fileSize.reset();
    return std::pair(id, std::move(document));
}

// The two large members of the file, decoded entry by entry as the parser
// reads them: each entry is dropped from the parsed tree as soon as it is
// decoded, so a file of 100,000 entries is never held as a whole tree.
class StreamedMembers {
public:
    TrackedFiles trackedFiles;
    QMap<qint64, KnownDocuments> serverDocuments;

    // The parser's callback: false drops what was just read from the tree.
    bool take(int depth, json::parse_event_t event, json &parsed)
    {
        using Event = json::parse_event_t;
        // A file read as a stream is bounded here, as it is read.
        if ((event == Event::object_start || event == Event::array_start) && depth >= JsonLimits::maxNesting)
            throw InvalidFile();
        if (depth == 0 && event == Event::object_start)
            m_topIsObject = true;
        if (!m_topIsObject)
            return true;
        if (event == Event::key) {
            if (depth < int(m_keys.size()))
                m_keys[depth] = parsed.get<std::string>();
            return true;
        }
        if (depth == 1 && event == Event::object_start) {
            // A member named twice counts as its last occurrence.
            m_section = m_keys[1] == "trackedFiles" ? Section::tracked
                : m_keys[1] == "serverDocuments"    ? Section::documents
                                                    : Section::none;
            if (m_section == Section::tracked)
                trackedFiles.clear();
            else if (m_section == Section::documents)
                serverDocuments.clear();
            return true;
        }
        if (depth == 1 && event == Event::object_end) {
            m_section = Section::none;
            return true;
        }
        const bool done = event == Event::value || event == Event::object_end || event == Event::array_end;
        if (m_section == Section::tracked && depth == 2 && done) {
            trackedFiles.insert(QString::fromStdString(m_keys[2]), decodeTrackedFile(parsed, m_texts));
            return false;
        }
        if (m_section != Section::documents)
            return true;
        if (depth == 2 && event == Event::object_start) {
            m_folder = KnownDocuments{};
            m_folderReadable = true;
            return true;
        }
        if (depth == 3 && done) {
            if (m_folderReadable) {
                if (auto document = decodeKnownDocument(m_keys[3], parsed, m_texts))
                    m_folder.insert(document->first, std::move(document->second));
                else
                    m_folderReadable = false;
            }
            return false;
        }
        if (depth == 2 && done) {
            bool ok = false;
            const qint64 id = QString::fromStdString(m_keys[2]).toLongLong(&ok);
            if (ok) {
                if (event == Event::object_end && m_folderReadable)
                    serverDocuments.insert(id, std::move(m_folder));
                else
                    serverDocuments.remove(id);
            }
            m_folder = KnownDocuments{};
            return false;
        }
        return true;
    }

private:
    enum class Section { none, tracked, documents };
    bool m_topIsObject = false;
    Section m_section = Section::none;
    std::array<std::string, 4> m_keys; // the member being read at each depth up to 3
    KnownDocuments m_folder;
    bool m_folderReadable = true;
    SharedTexts m_texts;
};

SyncState decodeState(const json &root, StreamedMembers &streamed)
{
    if (!root.is_object())
        throw InvalidFile{};
    SyncState state;
    if (const json *id = optionalMember(root, "serverFolderId"))
        state.serverFolderId = requiredInteger(*id);
    state.lastSyncTime = optionalString(root, "lastSyncTime");

    const json &folders = requiredMember(root, "watchedFolders");
    if (!folders.is_array())
        throw InvalidFile{};
    for (const json &folder : folders) {
        if (!folder.is_string())
            throw InvalidFile{};
        state.watchedFolders.append(text(folder));
    }
    for (const auto &[path, id] : requiredObject(root, "folderMappings").items())
        state.folderMappings.insert(QString::fromStdString(path), requiredInteger(id));
    requiredObject(root, "trackedFiles"); // its entries were taken as it was read
    state.trackedFiles = std::move(streamed.trackedFiles);

    // Per-folder since times are an addition to the format: a malformed
    // member is dropped on its own (each folder is then asked for
    // everything) rather than costing the whole file. A file from before
    // them asked every folder with lastSyncTime, and goes on doing so.
    const json *times = optionalMember(root, "folderSyncTimes");
    if (!times && state.lastSyncTime) {
        for (auto it = state.folderMappings.cbegin(); it != state.folderMappings.cend(); ++it)
            state.folderSyncTimes.insert(it.key(), *state.lastSyncTime);
    }
    if (times && times->is_object()) {
        QMap<QString, QString> decoded;
        bool valid = true;
        for (const auto &[path, since] : times->items()) {
            if (!since.is_string()) {
                valid = false;
                break;
            }
            decoded.insert(QString::fromStdString(path), text(since));
        }
        if (valid)
            state.folderSyncTimes = decoded;
    }
    // Mount points too: a malformed list is dropped on its own.
    if (const json *mounts = optionalMember(root, "mountPoints"); mounts && mounts->is_object()) {
        for (const auto &[path, list] : mounts->items()) {
            if (!list.is_array())
                continue;
            QStringList relative;
            for (const json &entry : list)
                if (entry.is_string())
                    relative.append(text(entry));
            if (!relative.isEmpty())
                state.mountPoints.insert(QString::fromStdString(path), relative);
        }
    }
    const auto stringMap = [](const json *member, QMap<QString, QString> &into) {
        if (!member || !member->is_object())
            return;
        for (const auto &[key, value] : member->items())
            if (value.is_string())
                into.insert(QString::fromStdString(key), text(value));
    };
    stringMap(optionalMember(root, "folderChoices"), state.folderChoices);
    if (const json *account = optionalMember(root, "account"); account && account->is_object()) {
        const json *server = optionalMember(*account, "server");
        const json *email = optionalMember(*account, "email");
        if (server && server->is_string())
            state.account = SyncAccount{text(*server), email && email->is_string() ? text(*email) : QString()};
    }
    if (const json *folders = optionalMember(root, "serverDocuments"); folders && folders->is_object())
        state.serverDocuments = std::move(streamed.serverDocuments);
    return state;
}

bool encodeTrackedFile(PrettyJsonWriter &out, const TrackedFile &file)
{
    out.beginObject();
    out.key(QStringLiteral("lastSynced"));
    out.string(file.lastSynced);
    out.key(QStringLiteral("localHash"));
    out.string(file.localHash.toString());
    out.key(QStringLiteral("localModified"));
    if (!out.number(secondsSinceReferenceDate(file.localModified)))
        return false;
    const auto fact = [&](const QString &name, const std::optional<qint64> &value) {
        if (value) {
            out.key(name);
            out.integer(*value);
        }
    };
    fact(QStringLiteral("changedNs"), file.changedNs);
    fact(QStringLiteral("inode"), file.inode);
    fact(QStringLiteral("modifiedNs"), file.modifiedNs);
    fact(QStringLiteral("recordedNs"), file.recordedNs);
    if (file.remoteHash) {
        out.key(QStringLiteral("remoteHash"));
        out.string(file.remoteHash->toString());
    }
    out.key(QStringLiteral("remoteId"));
    out.integer(file.remoteId);
    if (file.sentFromHere) {
        out.key(QStringLiteral("sentFromHere"));
        out.integer(1);
    }
    fact(QStringLiteral("size"), file.size);
    out.endObject();
    return true;
}

} // namespace

QByteArray SyncState::encode() const
{
    PrettyJsonWriter out;
    out.reserve(4096 + trackedFiles.size() * 320);
    return encodeInto(out) ? out.bytes() : QByteArray();
}

bool SyncState::encodeInto(PrettyJsonWriter &out) const
{
    // Members in key order, so that the same state always gives the same file.
    out.beginObject();
    if (account) {
        out.key(QStringLiteral("account"));
        out.beginObject();
        out.key(QStringLiteral("email"));
        out.string(account->email);
        out.key(QStringLiteral("server"));
        out.string(account->server);
        out.endObject();
    }
    if (!folderChoices.isEmpty()) {
        out.key(QStringLiteral("folderChoices"));
        out.beginObject();
        for (auto it = folderChoices.cbegin(); it != folderChoices.cend(); ++it) {
            out.key(it.key());
            out.string(it.value());
        }
        out.endObject();
    }
    out.key(QStringLiteral("folderMappings"));
    out.beginObject();
    for (auto it = folderMappings.cbegin(); it != folderMappings.cend(); ++it) {
        out.key(it.key());
        out.integer(it.value());
    }
    out.endObject();
    // Written empty too when a reader would otherwise take the file for
    // one from before per-folder times and give every folder lastSyncTime:
    // a folder whose time was dropped must be asked for everything.
    if (!folderSyncTimes.isEmpty() || (lastSyncTime && !folderMappings.isEmpty())) {
        out.key(QStringLiteral("folderSyncTimes"));
        out.beginObject();
        for (auto it = folderSyncTimes.cbegin(); it != folderSyncTimes.cend(); ++it) {
            out.key(it.key());
            out.string(it.value());
        }
        out.endObject();
    }
    if (lastSyncTime) {
        out.key(QStringLiteral("lastSyncTime"));
        out.string(*lastSyncTime);
    }
    if (!mountPoints.isEmpty()) {
        out.key(QStringLiteral("mountPoints"));
        out.beginObject();
        for (auto it = mountPoints.cbegin(); it != mountPoints.cend(); ++it) {
            out.key(it.key());
            out.beginArray();
            for (const QString &relative : it.value())
                out.string(relative);
            out.endArray();
        }
        out.endObject();
    }
    if (!serverDocuments.isEmpty()) {
        out.key(QStringLiteral("serverDocuments"));
        out.beginObject();
        for (auto folder = serverDocuments.cbegin(); folder != serverDocuments.cend(); ++folder) {
            out.key(QString::number(folder.key()));
            out.beginObject();
            for (auto document = folder->cbegin(); document != folder->cend(); ++document) {
                out.key(QString::number(document.key()));
                out.beginObject();
                if (document->fileHash) {
                    out.key(QStringLiteral("fileHash"));
                    out.string(document->fileHash->toString());
                }
                if (document->fileSize) {
                    out.key(QStringLiteral("fileSize"));
                    out.integer(*document->fileSize);
                }
                out.key(QStringLiteral("name"));
                out.string(document->name);
                out.key(QStringLiteral("updatedAt"));
                out.string(document->updatedAt);
                out.endObject();
            }
            out.endObject();
        }
        out.endObject();
    }
    if (serverFolderId) {
        out.key(QStringLiteral("serverFolderId"));
        out.integer(*serverFolderId);
    }
    out.key(QStringLiteral("trackedFiles"));
    out.beginObject();
    for (auto it = trackedFiles.cbegin(); it != trackedFiles.cend(); ++it) {
        out.key(it.key());
        if (!encodeTrackedFile(out, it.value()))
            return false;
    }
    out.endObject();
    out.key(QStringLiteral("watchedFolders"));
    out.beginArray();
    for (const QString &folder : watchedFolders)
        out.string(folder);
    out.endArray();
    out.endObject();
    return true;
}

namespace {

// Runs `parse` (nlohmann's parser over some input, given the callback) and
// decodes what it read.
template <typename Parse>
std::optional<SyncState> decodeParsed(Parse parse)
{
    try {
        StreamedMembers streamed;
        const json root = parse([&streamed](int depth, json::parse_event_t event, json &parsed) {
            return streamed.take(depth, event, parsed);
        });
        if (root.is_discarded())
            return std::nullopt;
        return decodeState(root, streamed);
    } catch (const InvalidFile &) {
        return std::nullopt;
    }
}

} // namespace

std::optional<SyncState> SyncState::decode(const QByteArray &bytes)
{
    // Well past any state a client holds (100,000 files make 68 MiB): such a
    // file was not written here. Nesting is bounded as the parse reads.
    if (bytes.size() > maxFileBytes)
        return std::nullopt;
    return decodeParsed([&bytes](const json::parser_callback_t &take) {
        return json::parse(bytes.cbegin(), bytes.cend(), take, /*allow_exceptions=*/false);
    });
}

std::optional<SyncState> SyncState::decode(std::istream &in)
{
    return decodeParsed(
        [&in](const json::parser_callback_t &take) { return json::parse(in, take, /*allow_exceptions=*/false); });
}
