#pragma once

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class AppState;
struct RecentFile;
class QLabel;
class QVBoxLayout;

// The middle block of the signed-in panel: a coloured status dot with the
// status text, the watched folders by name and the five newest transfers
// with their direction and age. Redrawn from AppState on every change; the
// ages are refreshed while the view is visible.
class SyncStatusView : public QWidget {
    Q_OBJECT
public:
    static constexpr int shownRecentFiles = 5;

    explicit SyncStatusView(AppState &appState, QWidget *parent = nullptr);

    // Redraws the ages of the recent rows against the clock.
    void refreshAges();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void rebuild();
    QWidget *statusLine();
    QWidget *folderRow(const QString &folderPath);
    QWidget *recentRow(const RecentFile &entry);

    AppState &m_appState;
    QVBoxLayout *m_layout;
    QTimer m_ageTimer;
    QList<QPair<QPointer<QLabel>, QDateTime>> m_ageLabels;
};
