#include "ui/SettingsView.h"

#include "platform/Autostart.h"
#include "platform/LogFile.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "ui/ElidedLabel.h"
#include "ui/SessionFlows.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

const QString intervalKey = QStringLiteral("syncInterval");
constexpr double fallbackInterval = 30;

QVBoxLayout *tabLayout(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setSpacing(12);
    layout->setAlignment(Qt::AlignTop);
    return layout;
}

QLabel *captionLabel(const QString &text, QWidget *parent)
{
    auto *label = viewstyle::label(text, TextStyle::caption, symbols::secondary(), parent);
    label->setWordWrap(true);
    return label;
}

// A not-synced file as the user knows it: its watched folder's name and the
// path inside it.
QString shownPath(const NotSyncedFile &file)
{
    const QString relative = QDir(file.folder).relativeFilePath(file.path);
    if (file.folder.isEmpty() || relative.startsWith(QLatin1String("..")))
        return file.path;
    return QFileInfo(file.folder).fileName() + QLatin1Char('/') + relative;
}

} // namespace

SettingsView::SettingsView(AppState &appState, APIClient &apiClient, std::function<void()> onLogout,
                           double syncInterval, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_apiClient(apiClient)
    , m_onLogout(std::move(onLogout))
    , m_syncInterval(syncInterval)
    , m_chooseFolder(defaultFolderChooser())
    , m_confirm(defaultConfirmation())
{
    setWindowTitle(tr("TavrelSync Settings"));
    auto *layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    const QColor iconColor = palette().color(QPalette::WindowText);
    m_tabs->addTab(buildFoldersTab(), symbols::icon(QStringLiteral("folder"), iconColor), tr("Folders"));
    m_tabs->addTab(buildAccountTab(), symbols::icon(QStringLiteral("person.circle"), iconColor),
                   tr("Account"));
    m_notSyncedTab = buildNotSyncedTab();
    m_tabs->addTab(m_notSyncedTab, tr("Not Synced"));
    m_tabs->addTab(buildGeneralTab(), symbols::icon(QStringLiteral("gear"), iconColor), tr("General"));
    // Tabs keep their whole names at any font size: the window is never
    // narrower than the tab bar.
    m_tabs->setUsesScrollButtons(false);
    m_tabs->tabBar()->setElideMode(Qt::ElideNone);
    layout->addWidget(m_tabs, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_close = new QPushButton(tr("Close"), this);
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);

    connect(&appState, &AppState::watchedFoldersChanged, this, &SettingsView::refreshFolders);
    connect(&appState, &AppState::foldersNeedingChoiceChanged, this, &SettingsView::refreshFolders);
    connect(&appState, &AppState::notSyncedFilesChanged, this, &SettingsView::refreshNotSynced);
    connect(&appState, &AppState::userInfoChanged, this, &SettingsView::refreshAccount);
    connect(&appState, &AppState::isLoggedInChanged, this, &SettingsView::refreshAccount);
    refreshFolders();
    refreshAccount();
    refreshNotSynced();
    // A starting size that fits the content at the desktop's font; the user
    // may make it larger or smaller from there.
    setMinimumWidth(m_tabs->tabBar()->sizeHint().width() + 2 * layout->contentsMargins().left() + 16);
    resize(sizeHint().expandedTo(QSize(480, 400)));
}

SettingsView::Confirmation SettingsView::defaultConfirmation()
{
    return [](QWidget *parent, const QString &question, const QString &detail, const QString &accept) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("TavrelSync"), question, QMessageBox::NoButton, parent);
        box.setInformativeText(detail);
        QPushButton *yes = box.addButton(accept, QMessageBox::AcceptRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == yes;
    };
}

void SettingsView::confirmLogout()
{
    const auto user = m_appState.userInfo();
    const QString question = user && !user->email.isEmpty() ? tr("Sign out as %1?").arg(user->email) : tr("Sign out?");
    if (!m_confirm || m_confirm(this, question,
                                tr("Syncing stops until you sign in again. Your files stay on this "
                                   "computer and on the server."),
                                tr("Sign Out")))
        logout();
}

void SettingsView::confirmRemoveFolder(int index)
{
    const QStringList folders = m_appState.watchedFolders();
    if (index < 0 || index >= folders.size())
        return;
    const QString path = folders.at(index);
    if (m_confirm
        && !m_confirm(this, tr("Stop syncing \u201c%1\u201d?").arg(QFileInfo(path).fileName()),
                      tr("The files in %1 are kept on this computer and on the server; they are no "
                         "longer kept in step.")
                          .arg(QDir::toNativeSeparators(path)),
                      tr("Stop Syncing")))
        return;
    // The list may have changed while the question was open.
    const int now = int(m_appState.watchedFolders().indexOf(path));
    if (now >= 0)
        m_appState.removeWatchedFolder(now);
}

void SettingsView::setCurrentIndex(int index)
{
    m_tabs->setCurrentIndex(index);
}

double SettingsView::initialSyncInterval(const AppState &appState)
{
    const double stored = appState.preferences().doubleValue(intervalKey).value_or(0);
    return stored > 0 ? stored : fallbackInterval;
}

QFileDialog *SettingsView::makeFolderDialog(QWidget *parent)
{
    auto *dialog = new QFileDialog(parent, tr("Select a folder to sync with Tavrel"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, tr("Choose"));
    // Not the process's working directory, which means nothing to the user.
    dialog->setDirectory(QDir::homePath());
    return dialog;
}

SettingsView::FolderChooser SettingsView::defaultFolderChooser()
{
    return [](QWidget *parent) -> std::optional<QString> {
        // Guarded: the parent window may go (and take the dialog with it)
        // while the dialog runs.
        QPointer<QFileDialog> dialog = makeFolderDialog(parent);
        const bool accepted = dialog->exec() == QDialog::Accepted;
        if (!dialog)
            return std::nullopt;
        const QStringList chosen = dialog->selectedFiles();
        delete dialog;
        if (!accepted || chosen.isEmpty())
            return std::nullopt;
        return chosen.constFirst();
    };
}

QWidget *SettingsView::buildFoldersTab()
{
    auto *tab = new QWidget(this);
    auto *layout = tabLayout(tab);
    layout->addWidget(viewstyle::label(tr("Watched Folders"), TextStyle::headline));
    layout->addWidget(captionLabel(tr("Select up to 5 folders to sync with Tavrel."), tab));

    m_folderList = new QListWidget(tab);
    m_folderList->setMinimumHeight(120);
    m_folderList->setSelectionMode(QAbstractItemView::NoSelection);
    m_folderList->setFocusPolicy(Qt::NoFocus);
    m_folderList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_folderList, 1);

    auto *addRow = new QHBoxLayout;
    m_addFolder = new QPushButton(tr("Add Folder..."), tab);
    connect(m_addFolder, &QPushButton::clicked, this, &SettingsView::selectFolder);
    addRow->addWidget(m_addFolder);
    addRow->addStretch(1);
    m_folderCount = viewstyle::label(QString(), TextStyle::caption, symbols::secondary(), tab);
    addRow->addWidget(m_folderCount);
    layout->addLayout(addRow);
    // Why the last folder chosen was not added; shown until the next choice.
    m_folderRefusal = captionLabel(QString(), tab);
    m_folderRefusal->setObjectName(QStringLiteral("folderRefusal"));
    m_folderRefusal->setWordWrap(true);
    viewstyle::setColor(m_folderRefusal, symbols::orange());
    m_folderRefusal->hide();
    layout->addWidget(m_folderRefusal);

    layout->addWidget(viewstyle::divider(tab));

    auto *intervalRow = new QHBoxLayout;
    intervalRow->addWidget(new QLabel(tr("Sync every"), tab));
    m_intervalPicker = new QComboBox(tab);
    for (const Interval &interval : intervals)
        m_intervalPicker->addItem(tr(interval.label), interval.seconds);
    m_intervalPicker->setMinimumWidth(140);
    // A stored value that is none of the choices shows no choice and stays
    // stored until the user picks one.
    m_intervalPicker->setCurrentIndex(m_intervalPicker->findData(m_syncInterval));
    connect(m_intervalPicker, &QComboBox::currentIndexChanged, this, &SettingsView::intervalPicked);
    intervalRow->addWidget(m_intervalPicker);
    intervalRow->addStretch(1);
    layout->addLayout(intervalRow);
    return tab;
}

QWidget *SettingsView::buildAccountTab()
{
    auto *tab = new QWidget(this);
    auto *layout = tabLayout(tab);
    layout->addWidget(viewstyle::label(tr("Account"), TextStyle::headline));
    m_accountForm = new QFormLayout;
    m_accountForm->setLabelAlignment(Qt::AlignRight);
    m_accountForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addLayout(m_accountForm);
    layout->addStretch(1);

    m_signOut = new QPushButton(tr("Sign Out"), tab);
    m_signOut->setObjectName(QStringLiteral("signOutButton"));
    QPalette palette = m_signOut->palette();
    palette.setColor(QPalette::ButtonText, symbols::red());
    m_signOut->setPalette(palette);
    connect(m_signOut, &QPushButton::clicked, this, &SettingsView::confirmLogout);
    layout->addWidget(m_signOut, 0, Qt::AlignLeft);

    // Signed out: one sentence and the way back in.
    m_signedOutText = captionLabel(tr("You are signed out. Sign in to sync your folders again."), tab);
    m_signedOutText->setObjectName(QStringLiteral("signedOutText"));
    layout->insertWidget(1, m_signedOutText);
    m_signIn = new QPushButton(tr("Sign In..."), tab);
    m_signIn->setObjectName(QStringLiteral("accountSignInButton"));
    connect(m_signIn, &QPushButton::clicked, this, &SettingsView::signInRequested);
    layout->insertWidget(2, m_signIn, 0, Qt::AlignLeft);
    return tab;
}

void SettingsView::showNotSynced()
{
    m_tabs->setCurrentWidget(m_notSyncedTab);
}

QWidget *SettingsView::buildNotSyncedTab()
{
    auto *tab = new QWidget(this);
    auto *layout = tabLayout(tab);
    layout->addWidget(viewstyle::label(tr("Not Synced"), TextStyle::headline));
    layout->addWidget(captionLabel(tr("Files in your folders that the sync leaves alone, and why."), tab));
    m_notSynced = new QTreeWidget(tab);
    m_notSynced->setColumnCount(2);
    m_notSynced->setHeaderLabels({tr("File"), tr("Reason")});
    m_notSynced->setRootIsDecorated(false);
    m_notSynced->setSelectionMode(QAbstractItemView::SingleSelection);
    m_notSynced->setWordWrap(true);
    m_notSynced->header()->setStretchLastSection(true);
    layout->addWidget(m_notSynced, 1);
    // The chosen file's path and reason, whole and wrapped, whatever the
    // columns' widths.
    m_notSyncedDetail = captionLabel(QString(), tab);
    m_notSyncedDetail->setObjectName(QStringLiteral("notSyncedDetail"));
    m_notSyncedDetail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_notSyncedDetail);
    connect(m_notSynced, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        m_notSyncedDetail->setText(item ? item->toolTip(0) + QLatin1Char('\n') + item->text(1) : QString());
        m_notSyncedDetail->setVisible(item != nullptr);
    });
    m_notSyncedEmpty = captionLabel(tr("Every file in your folders is synced."), tab);
    m_notSyncedEmpty->setObjectName(QStringLiteral("notSyncedEmpty"));
    layout->addWidget(m_notSyncedEmpty);
    return tab;
}

QWidget *SettingsView::buildGeneralTab()
{
    auto *tab = new QWidget(this);
    auto *layout = tabLayout(tab);

    m_startAtLogin = new QCheckBox(tr("Start TavrelSync when I log in"), tab);
    m_startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    m_startAtLogin->setChecked(Autostart().isEnabled());
    connect(m_startAtLogin, &QCheckBox::toggled, this, &SettingsView::startAtLoginToggled);
    layout->addWidget(m_startAtLogin);

    layout->addWidget(viewstyle::divider(tab));
    auto *logRow = new QHBoxLayout;
    m_openLog = new QPushButton(tr("Open Log"), tab);
    m_openLog->setObjectName(QStringLiteral("openLogButton"));
    connect(m_openLog, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl::fromLocalFile(LogFile::defaultPath())); });
    logRow->addWidget(m_openLog);
    auto *logPath = new ElidedLabel(QDir::toNativeSeparators(LogFile::defaultPath()), tab);
    logPath->setFont(viewstyle::font(TextStyle::caption));
    viewstyle::setSecondary(logPath);
    logPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    logRow->addWidget(logPath, 1);
    layout->addLayout(logRow);

    layout->addWidget(viewstyle::divider(tab));
    auto *about = new QHBoxLayout;
    auto *icon = new QLabel(tab);
    icon->setPixmap(symbols::appPixmap(48, devicePixelRatioF()));
    about->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    auto *name = viewstyle::label(QStringLiteral("TavrelSync"), TextStyle::headline, QColor(), tab);
    name->setObjectName(QStringLiteral("aboutName"));
    texts->addWidget(name);
    auto *version = viewstyle::label(tr("Version %1").arg(QStringLiteral(TAVRELSYNC_VERSION)),
                                     TextStyle::body, QColor(), tab);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(version);
    texts->addWidget(captionLabel(tr("Keeps up to five folders in step with your Tavrel documents."), tab));
    about->addLayout(texts, 1);
    layout->addLayout(about);
    layout->addStretch(1);
    return tab;
}

QWidget *SettingsView::folderRow(int index, const QString &path, bool needsChoice)
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("folderRow"));
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(6, 4, 6, 4);
    rowLayout->setSpacing(8);
    rowLayout->addWidget(needsChoice
                             ? viewstyle::symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), symbols::orange(), 18, row)
                             : viewstyle::symbolLabel(QStringLiteral("folder.fill"), symbols::blue(), 18, row));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto *name = new ElidedLabel(QFileInfo(path).fileName(), row);
    name->setObjectName(QStringLiteral("folderName"));
    name->setFont(viewstyle::font(TextStyle::body));
    QString detailText = path;
    if (const auto outer = m_appState.overlappingFolder(path); outer && needsChoice)
        detailText = tr("Overlaps %1; not synced until chosen again: %2").arg(*outer, path);
    else if (needsChoice)
        detailText = tr("Missing or replaced; not synced until chosen again: %1").arg(path);
    auto *detail = new ElidedLabel(detailText, row);
    detail->setObjectName(QStringLiteral("folderPath"));
    detail->setFont(viewstyle::font(TextStyle::caption));
    detail->setToolTip(path);
    if (needsChoice)
        viewstyle::setColor(detail, symbols::orange());
    else
        viewstyle::setSecondary(detail);
    texts->addWidget(name);
    texts->addWidget(detail);
    rowLayout->addLayout(texts, 1);

    if (needsChoice) {
        auto *again = new QPushButton(tr("Choose..."), row);
        again->setObjectName(QStringLiteral("chooseAgainButton"));
        again->setToolTip(tr("Choose this folder again"));
        // Queued: the row (and this button) is rebuilt by the change.
        connect(again, &QPushButton::clicked, this, [this, index] { chooseFolderAgain(index); }, Qt::QueuedConnection);
        rowLayout->addWidget(again);
    }

    auto *remove = new QToolButton(row);
    remove->setObjectName(QStringLiteral("removeFolderButton"));
    remove->setAutoRaise(true);
    remove->setIcon(symbols::icon(QStringLiteral("minus.circle.fill"), symbols::red()));
    remove->setIconSize(QSize(16, 16));
    remove->setToolTip(tr("Stop syncing this folder"));
    remove->setStyleSheet(QStringLiteral("QToolButton { border: none; }"));
    connect(remove, &QToolButton::clicked, this, [this, index] { confirmRemoveFolder(index); }, Qt::QueuedConnection);
    rowLayout->addWidget(remove);
    return row;
}

void SettingsView::refreshFolders()
{
    m_folderList->clear();
    const QStringList folders = m_appState.watchedFolders();
    const QStringList needingChoice = m_appState.foldersNeedingChoice();
    for (qsizetype index = 0; index < folders.size(); ++index) {
        QWidget *row = folderRow(int(index), folders[index], needingChoice.contains(folders[index]));
        auto *item = new QListWidgetItem(m_folderList);
        item->setSizeHint(row->sizeHint());
        m_folderList->setItemWidget(item, row);
    }
    m_addFolder->setEnabled(folders.size() < AppState::maxWatchedFolders);
    m_folderCount->setText(tr("%1/5 folders").arg(folders.size()));
}

void SettingsView::refreshAccount()
{
    while (m_accountForm->rowCount() > 0)
        m_accountForm->removeRow(0);
    auto addValue = [this](const QString &title, const QString &value) {
        auto *valueLabel = new ElidedLabel(value);
        valueLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto *titleLabel = new QLabel(title);
        viewstyle::setSecondary(titleLabel);
        m_accountForm->addRow(titleLabel, valueLabel);
    };
    if (const auto user = m_appState.userInfo()) {
        addValue(tr("Name"), user->displayName);
        addValue(tr("Email"), user->email);
        addValue(tr("Organization"), user->organization);
    }
    const bool signedIn = m_appState.isLoggedIn();
    if (const auto server = CredentialStore(m_appState.preferences()).read(QStringLiteral("server_url")))
        addValue(tr("Server"), *server);
    m_signOut->setVisible(signedIn);
    m_signedOutText->setVisible(!signedIn);
    m_signIn->setVisible(!signedIn);
}

void SettingsView::refreshNotSynced()
{
    m_notSynced->clear();
    const QList<NotSyncedFile> files = m_appState.notSyncedFiles();
    for (const NotSyncedFile &file : files) {
        auto *item = new QTreeWidgetItem(m_notSynced, {shownPath(file), file.reason});
        item->setToolTip(0, file.path);
        item->setToolTip(1, file.reason);
    }
    m_notSynced->resizeColumnToContents(0);
    // The path column never takes the reason's room: at most about twenty
    // characters wide, the rest shown in the detail line below.
    const int widest = m_notSynced->fontMetrics().averageCharWidth() * 24;
    m_notSynced->setColumnWidth(0, qMin(m_notSynced->columnWidth(0), widest));
    m_notSynced->setVisible(!files.isEmpty());
    // The first file's path and reason are shown whole from the start.
    if (!files.isEmpty())
        m_notSynced->setCurrentItem(m_notSynced->topLevelItem(0));
    else
        m_notSyncedDetail->hide();
    m_notSyncedEmpty->setVisible(files.isEmpty());
    const int tab = m_tabs ? m_tabs->indexOf(m_notSynced->parentWidget()) : -1;
    if (tab >= 0)
        m_tabs->setTabText(tab, files.isEmpty() ? tr("Not Synced")
                                                : tr("Not Synced (%1)").arg(files.size()));
}

QList<QPair<QString, QString>> SettingsView::accountValues() const
{
    QList<QPair<QString, QString>> values;
    for (int row = 0; row < m_accountForm->rowCount(); ++row) {
        auto *title = qobject_cast<QLabel *>(m_accountForm->itemAt(row, QFormLayout::LabelRole)->widget());
        auto *value = qobject_cast<QLabel *>(m_accountForm->itemAt(row, QFormLayout::FieldRole)->widget());
        if (title && value)
            values.append({title->text(), value->text()});
    }
    return values;
}

void SettingsView::intervalPicked(int index)
{
    if (index < 0)
        return;
    m_syncInterval = m_intervalPicker->itemData(index).toDouble();
    m_appState.preferences().setDouble(intervalKey, m_syncInterval);
}

void SettingsView::startAtLoginToggled(bool on)
{
    if (!Autostart().setEnabled(on, QCoreApplication::applicationFilePath())) {
        // The box shows what the desktop will do, not what was asked.
        const QSignalBlocker blocker(m_startAtLogin);
        m_startAtLogin->setChecked(Autostart().isEnabled());
        return;
    }
    m_appState.preferences().setDouble(sessionflows::startAtLoginKey, on ? 1 : 0);
}

void SettingsView::selectFolder()
{
    if (!m_chooseFolder)
        return;
    const std::optional<QString> chosen = m_chooseFolder(this);
    if (!chosen)
        return;
    showFolderRefusal(m_appState.folderRefusal(*chosen));
    if (m_folderRefusal->isHidden())
        m_appState.addWatchedFolder(*chosen);
}

void SettingsView::chooseFolderAgain(int index)
{
    if (!m_chooseFolder)
        return;
    const std::optional<QString> chosen = m_chooseFolder(this);
    if (!chosen)
        return;
    showFolderRefusal(m_appState.folderRefusal(*chosen, index));
    if (m_folderRefusal->isHidden())
        m_appState.replaceWatchedFolder(index, *chosen);
}

void SettingsView::showFolderRefusal(const std::optional<QString> &reason)
{
    m_folderRefusal->setText(reason ? tr("Not added: %1").arg(*reason) : QString());
    m_folderRefusal->setVisible(reason.has_value());
}

void SettingsView::logout()
{
    signOut(m_apiClient, m_appState, m_onLogout);
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshAccount();
    // Someone may have changed it by hand, or through the desktop's settings.
    const QSignalBlocker blocker(m_startAtLogin);
    m_startAtLogin->setChecked(Autostart().isEnabled());
    raise();
    activateWindow();
}
