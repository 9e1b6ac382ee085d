#pragma once

#include "state/SyncActivity.h"

#include <QColor>
#include <QDateTime>
#include <QString>

class AppState;

// What the tray icon, its tooltip and the panel say about the sync, derived
// from AppState alone so that all three always agree.
struct StatusSummary {
    enum class Face { signedOut, signInAgain, noFolders, syncing, offline, paused, error, waiting, notSynced, upToDate };
    Face face = Face::upToDate;
    QString title;  // "Up to date", "Syncing 12 of 30 files · 4.5 of 9.0 MB", ...
    QString detail; // "Last synced 2 minutes ago", "Next try in 25 seconds"; may be empty
    QString symbol; // the bundled symbol of the face
    QColor color;
};

// Times read either as ages ("2 minutes ago", for the panel, which refreshes
// them) or as clock times ("at 14:05", for texts that stay put).
enum class TimeWords { relative, clock };

StatusSummary summarizeStatus(const AppState &state, const QDateTime &now = QDateTime::currentDateTimeUtc(),
                              TimeWords words = TimeWords::relative);

// "Syncing 1,234 of 3,001 files · 45 of 300 MB"; "Syncing..." before any
// transfer is planned. Numbers follow the default locale.
QString progressText(const SyncProgress &progress);

// "Sending Budget.xlsx · 4.2 MB/s · about 3 minutes left": the transfer
// under way, once the pass has a rate; empty before.
QString transferText(const SyncProgress &progress);

// "45 of 300 MB": both amounts in the unit that suits the total.
QString byteAmountsText(qint64 done, qint64 total);
