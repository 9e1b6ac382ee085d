#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

// The engine's status as the panel and the tray icon show it.
struct SyncStatus {
    enum class Kind { idle, syncing, error };
    Kind kind = Kind::idle;
    QString message; // only for error

    static SyncStatus idle() { return {}; }
    static SyncStatus syncing() { return {Kind::syncing, {}}; }
    static SyncStatus error(QString message) { return {Kind::error, std::move(message)}; }
    bool operator==(const SyncStatus &) const = default;
};

// One recent transfer, newest first in AppState::recentFiles.
struct RecentFile {
    QUuid id;
    QString name;
    QString action; // "uploaded" or "downloaded"
    QDateTime timestamp;
    QString path; // the local file, for opening it; empty when unknown
    bool operator==(const RecentFile &) const = default;
};
