#include "ui/StatusSummary.h"

#include "state/AppState.h"
#include "ui/RelativeTime.h"
#include "ui/Symbols.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace {

// A moment as the chosen words say it, after "Last synced" or "Next try".
QString momentText(const QDateTime &moment, const QDateTime &now, TimeWords words)
{
    if (words == TimeWords::relative)
        return relativeTimeText(moment, now);
    const QLocale locale;
    const QDateTime local = moment.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return QCoreApplication::translate("StatusSummary", "at %1").arg(locale.toString(local.time(), QLocale::ShortFormat));
    return QCoreApplication::translate("StatusSummary", "on %1").arg(locale.toString(local, QLocale::ShortFormat));
}

} // namespace

QString byteAmountsText(qint64 done, qint64 total)
{
    struct Unit {
        qint64 size;
        const char *name;
    };
    static constexpr Unit units[] = {{1000LL * 1000 * 1000 * 1000, QT_TRANSLATE_NOOP("StatusSummary", "TB")},
                                     {1000LL * 1000 * 1000, QT_TRANSLATE_NOOP("StatusSummary", "GB")},
                                     {1000LL * 1000, QT_TRANSLATE_NOOP("StatusSummary", "MB")},
                                     {1000, QT_TRANSLATE_NOOP("StatusSummary", "kB")},
                                     {1, QT_TRANSLATE_NOOP("StatusSummary", "bytes")}};
    Unit unit = units[std::size(units) - 1];
    for (const Unit &candidate : units) {
        if (total >= candidate.size) {
            unit = candidate;
            break;
        }
    }
    const QLocale locale;
    // One decimal while the total is a single digit of its unit ("1.5 of
    // 3.2 GB"), whole numbers above; bytes are always whole.
    const double scaledTotal = double(total) / double(unit.size);
    const int decimals = unit.size > 1 && scaledTotal < 10 ? 1 : 0;
    auto amount = [&](qint64 bytes) {
        return locale.toString(double(bytes) / double(unit.size), 'f', decimals);
    };
    //: Bytes moved of all to move, and the unit: "1.5 of 3.2 GB".
    return QCoreApplication::translate("StatusSummary", "%1 of %2 %3")
        .arg(amount(done), amount(total), QCoreApplication::translate("StatusSummary", unit.name));
}

QString transferText(const SyncProgress &progress)
{
    if (progress.currentFile.isEmpty() || progress.bytesPerSecond <= 0)
        return {};
    const QLocale locale;
    const double rate = double(progress.bytesPerSecond);
    const QString rateText =
        rate >= 1e6
            ? QCoreApplication::translate("StatusSummary", "%1 MB/s").arg(locale.toString(rate / 1e6, 'f', 1))
            : QCoreApplication::translate("StatusSummary", "%1 kB/s")
                  .arg(locale.toString(qMax(1.0, rate / 1e3), 'f', 0));
    const qint64 left = qMax<qint64>(0, progress.bytesTotal - progress.bytesDone);
    const qint64 seconds = left / progress.bytesPerSecond;
    const int minutes = int((seconds + 30) / 60);
    const int hours = int(std::min((seconds + 1800) / 3600, qint64(std::numeric_limits<int>::max())));
    QString timeLeft;
    if (seconds >= 2 * 3600)
        timeLeft = QCoreApplication::translate("StatusSummary", "about %Ln hour(s) left", nullptr, hours);
    else if (seconds >= 60)
        timeLeft = QCoreApplication::translate("StatusSummary", "about %Ln minute(s) left", nullptr, minutes);
    else
        timeLeft = QCoreApplication::translate("StatusSummary", "less than a minute left");
    //: The file moving now, the speed and the time left: "Sending Budget.xlsx · 4.2 MB/s · about 3 minutes left".
    return (progress.currentAction == QLatin1String("downloading")
                ? QCoreApplication::translate("StatusSummary", "Receiving %1 · %2 · %3")
                : QCoreApplication::translate("StatusSummary", "Sending %1 · %2 · %3"))
        .arg(progress.currentFile, rateText, timeLeft);
}

QString progressText(const SyncProgress &progress)
{
    if (progress.filesTotal <= 0)
        return QCoreApplication::translate("StatusSummary", "Syncing...");
    const QLocale locale;
    const int total = int(qMin<qint64>(progress.filesTotal, std::numeric_limits<int>::max()));
    //: Files done of all files of the pass: "Syncing 12 of 40 files".
    const QString files = QCoreApplication::translate("StatusSummary", "Syncing %1 of %Ln file(s)", nullptr, total)
                              .arg(locale.toString(progress.filesDone));
    if (progress.bytesTotal <= 0)
        return files;
    return QCoreApplication::translate("StatusSummary", "%1 · %2")
        .arg(files, byteAmountsText(progress.bytesDone, progress.bytesTotal));
}

StatusSummary summarizeStatus(const AppState &state, const QDateTime &now, TimeWords words)
{
    using Face = StatusSummary::Face;
    if (!state.isLoggedIn())
        return {Face::signedOut, QCoreApplication::translate("StatusSummary", "Signed out"),
                QCoreApplication::translate("StatusSummary", "Sign in to start syncing"),
                QStringLiteral("person.circle"), symbols::secondary()};
    // The server refused the session: nothing syncs until a sign-in, and
    // the words say what to do.
    if (state.sessionRejected())
        return {Face::signInAgain, QCoreApplication::translate("StatusSummary", "Sign in again to keep syncing"),
                QCoreApplication::translate("StatusSummary", "The server no longer accepts this session"),
                QStringLiteral("person.circle"),
                symbols::orange()};
    if (state.watchedFolders().isEmpty())
        return {Face::noFolders, QCoreApplication::translate("StatusSummary", "Add a folder to start syncing"), QString(),
                QStringLiteral("folder"), symbols::secondary()};

    const SyncStatus status = state.syncStatus();
    // A pass the user started while paused still shows its progress.
    if (status.kind == SyncStatus::Kind::syncing)
        return {Face::syncing, progressText(state.syncProgress()), transferText(state.syncProgress()),
                QStringLiteral("arrow.triangle.2.circlepath"), symbols::blue()};
    // Without a network nothing is tried, and a failure of the last try is
    // no news: the words say what the program waits for.
    if (state.isOffline())
        return {Face::offline, QCoreApplication::translate("StatusSummary", "Offline"),
                QCoreApplication::translate("StatusSummary", "Syncing resumes when the network is back"),
                QStringLiteral("wifi.slash"), symbols::secondary()};
    if (state.isPaused())
        return {Face::paused, QCoreApplication::translate("StatusSummary", "Paused"),
                QCoreApplication::translate("StatusSummary", "Changes wait until you resume syncing"),
                QStringLiteral("pause.circle.fill"), symbols::secondary()};
    if (status.kind == SyncStatus::Kind::error) {
        QString detail;
        if (const auto next = state.nextSyncTime())
            detail = QCoreApplication::translate("StatusSummary", "Next try %1")
                         .arg(momentText(qMax(*next, now), now, words));
        return {Face::error, QCoreApplication::translate("StatusSummary", "Error: %1").arg(status.message), detail,
                QStringLiteral("exclamationmark.triangle.fill"), symbols::red()};
    }
    QString detail;
    if (const auto last = state.lastSyncTime())
        detail = QCoreApplication::translate("StatusSummary", "Last synced %1")
                     .arg(momentText(qMin(*last, now), now, words));
    // A question waiting holds files back: nothing is up to date until it
    // is answered.
    if (const QList<RemovalQuestion> questions = state.removalQuestions(); !questions.isEmpty()) {
        int removed = 0;
        for (const RemovalQuestion &question : questions)
            removed += question.count;
        return {Face::waiting, QCoreApplication::translate("StatusSummary", "Waiting for your answer"),
                QCoreApplication::translate("StatusSummary", "%Ln removal(s) held back", nullptr, removed),
                QStringLiteral("questionmark.circle"), symbols::orange()};
    }
    // Files left out are not up to date, and the face and words say so.
    const qsizetype left = state.notSyncedFiles().size();
    if (left > 0)
        return {Face::notSynced,
                QCoreApplication::translate("StatusSummary", "Up to date · %Ln file(s) not synced", nullptr, int(left)),
                detail, QStringLiteral("exclamationmark.circle"), symbols::orange()};
    return {Face::upToDate, QCoreApplication::translate("StatusSummary", "Up to date"), detail, QStringLiteral("checkmark.circle.fill"),
            symbols::green()};
}
