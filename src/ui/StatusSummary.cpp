#include "ui/StatusSummary.h"

#include "state/AppState.h"
#include "ui/RelativeTime.h"
#include "ui/Symbols.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

// A moment as the chosen words say it, after "Last synced" or "Next try".
QString momentText(const QDateTime &moment, const QDateTime &now, TimeWords words)
{
    if (words == TimeWords::relative)
        return relativeTimeText(moment, now);
    const QLocale locale;
    const QDateTime local = moment.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return QStringLiteral("at ") + locale.toString(local.time(), QLocale::ShortFormat);
    return QStringLiteral("on ") + locale.toString(local, QLocale::ShortFormat);
}

QString countText(qint64 done, qint64 total)
{
    const QLocale locale;
    return QStringLiteral("%1 of %2").arg(locale.toString(done), locale.toString(total));
}

} // namespace

QString byteAmountsText(qint64 done, qint64 total)
{
    struct Unit {
        qint64 size;
        const char *name;
    };
    static constexpr Unit units[] = {{1000LL * 1000 * 1000 * 1000, "TB"}, {1000LL * 1000 * 1000, "GB"},
                                     {1000LL * 1000, "MB"}, {1000, "kB"}, {1, "bytes"}};
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
    return QStringLiteral("%1 of %2 %3").arg(amount(done), amount(total), QLatin1String(unit.name));
}

QString transferText(const SyncProgress &progress)
{
    if (progress.currentFile.isEmpty() || progress.bytesPerSecond <= 0)
        return {};
    const QLocale locale;
    const double rate = double(progress.bytesPerSecond);
    const QString rateText = rate >= 1e6 ? QStringLiteral("%1 MB/s").arg(locale.toString(rate / 1e6, 'f', 1))
                                         : QStringLiteral("%1 kB/s").arg(locale.toString(qMax(1.0, rate / 1e3), 'f', 0));
    const qint64 left = qMax<qint64>(0, progress.bytesTotal - progress.bytesDone);
    const qint64 seconds = left / progress.bytesPerSecond;
    QString timeLeft;
    if (seconds < 60)
        timeLeft = QStringLiteral("less than a minute left");
    else if (seconds < 2 * 3600)
        timeLeft = QStringLiteral("about %1 minutes left").arg(locale.toString((seconds + 30) / 60));
    else
        timeLeft = QStringLiteral("about %1 hours left").arg(locale.toString((seconds + 1800) / 3600));
    const QString verb = progress.currentAction == QLatin1String("downloading") ? QStringLiteral("Receiving ")
                                                                                 : QStringLiteral("Sending ");
    return verb + progress.currentFile + QStringLiteral(" · ") + rateText + QStringLiteral(" · ") + timeLeft;
}

QString progressText(const SyncProgress &progress)
{
    if (progress.filesTotal <= 0)
        return QStringLiteral("Syncing...");
    QString text = QStringLiteral("Syncing ") + countText(progress.filesDone, progress.filesTotal)
        + (progress.filesTotal == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    if (progress.bytesTotal > 0)
        text += QStringLiteral(" · ") + byteAmountsText(progress.bytesDone, progress.bytesTotal);
    return text;
}

StatusSummary summarizeStatus(const AppState &state, const QDateTime &now, TimeWords words)
{
    using Face = StatusSummary::Face;
    if (!state.isLoggedIn())
        return {Face::signedOut, QStringLiteral("Signed out"), QStringLiteral("Sign in to start syncing"),
                QStringLiteral("person.circle"), symbols::secondary()};
    // The server refused the session: nothing syncs until a sign-in, and
    // the words say what to do.
    if (state.sessionRejected())
        return {Face::signInAgain, QStringLiteral("Sign in again to keep syncing"),
                QStringLiteral("The server no longer accepts this session"), QStringLiteral("person.circle"),
                symbols::orange()};
    if (state.watchedFolders().isEmpty())
        return {Face::noFolders, QStringLiteral("Add a folder to start syncing"), QString(),
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
        return {Face::paused, QStringLiteral("Paused"), QStringLiteral("Changes wait until you resume syncing"),
                QStringLiteral("pause.circle.fill"), symbols::secondary()};
    if (status.kind == SyncStatus::Kind::error) {
        QString detail;
        if (const auto next = state.nextSyncTime())
            detail = QStringLiteral("Next try ") + momentText(qMax(*next, now), now, words);
        return {Face::error, QStringLiteral("Error: ") + status.message, detail,
                QStringLiteral("exclamationmark.triangle.fill"), symbols::red()};
    }
    QString detail;
    if (const auto last = state.lastSyncTime())
        detail = QStringLiteral("Last synced ") + momentText(qMin(*last, now), now, words);
    // A question waiting holds files back: nothing is up to date until it
    // is answered.
    if (const QList<RemovalQuestion> questions = state.removalQuestions(); !questions.isEmpty()) {
        int removed = 0;
        for (const RemovalQuestion &question : questions)
            removed += question.count;
        return {Face::waiting, QStringLiteral("Waiting for your answer"),
                QStringLiteral("%1 %2 held back").arg(QLocale().toString(removed),
                                                      removed == 1 ? QStringLiteral("removal") : QStringLiteral("removals")),
                QStringLiteral("questionmark.circle"), symbols::orange()};
    }
    // Files left out are not up to date, and the face and words say so.
    const qsizetype left = state.notSyncedFiles().size();
    if (left > 0)
        return {Face::notSynced,
                QStringLiteral("Up to date · %1 %2 not synced")
                    .arg(QLocale().toString(left), left == 1 ? QStringLiteral("file") : QStringLiteral("files")),
                detail, QStringLiteral("exclamationmark.circle"), symbols::orange()};
    return {Face::upToDate, QStringLiteral("Up to date"), detail, QStringLiteral("checkmark.circle.fill"),
            symbols::green()};
}
