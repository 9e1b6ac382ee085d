#pragma once

#include <QDateTime>
#include <QString>

// What a pass tells the user beyond its status: how far it has come, which
// files it leaves alone and why, and questions that wait for an answer.

// Progress of the pass that runs: transfers planned and finished so far.
struct SyncProgress {
    int filesDone = 0;
    int filesTotal = 0;
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
    // The transfer that moved last ("uploading" or "downloading" it), and
    // the pass's average rate once it has run for a few seconds (0 before).
    QString currentFile;
    QString currentAction;
    qint64 bytesPerSecond = 0;
    bool operator==(const SyncProgress &) const = default;
};

// A local file that the sync does not carry, and a sentence saying why
// ("Another file named x.txt in this folder is synced", ...).
struct NotSyncedFile {
    QString path;   // absolute local path
    QString folder; // the watched folder it lies in
    QString reason;
    bool operator==(const NotSyncedFile &) const = default;
};

// A watched folder where more than half of the tracked files disappeared:
// nothing is deleted on the server until the user answers "Remove" or
// "Restore".
struct RemovalQuestion {
    QString folder;
    int count = 0;
    bool operator==(const RemovalQuestion &) const = default;
};
