#include "ui/SettingsView.h"

#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "ui/ElidedLabel.h"
#include "ui/SessionFlows.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

const QString intervalKey = QStringLiteral("syncInterval");
constexpr double fallbackInterval = 30;

QVBoxLayout *tabLayout(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return layout;
}

} // namespace

SettingsView::SettingsView(AppState &appState, APIClient &apiClient, std::function<void()> onLogout,
                           double syncInterval, QWidget *parent)
    : QTabWidget(parent)
    , m_appState(appState)
    , m_apiClient(apiClient)
    , m_onLogout(std::move(onLogout))
    , m_syncInterval(syncInterval)
    , m_chooseFolder(defaultFolderChooser())
{
    setWindowTitle(QStringLiteral("TavrelSync Settings"));
    setFixedSize(450, 350);
    const QColor iconColor = palette().color(QPalette::WindowText);
    addTab(buildFoldersTab(), symbols::icon(QStringLiteral("folder"), iconColor), QStringLiteral("Folders"));
    addTab(buildAccountTab(), symbols::icon(QStringLiteral("person.circle"), iconColor), QStringLiteral("Account"));

    connect(&appState, &AppState::watchedFoldersChanged, this, &SettingsView::refreshFolders);
    connect(&appState, &AppState::userInfoChanged, this, &SettingsView::refreshAccount);
    connect(&appState, &AppState::isLoggedInChanged, this, &SettingsView::refreshAccount);
    refreshFolders();
    refreshAccount();
}

double SettingsView::initialSyncInterval(const AppState &appState)
{
    const double stored = appState.preferences().doubleValue(intervalKey).value_or(0);
    return stored > 0 ? stored : fallbackInterval;
}

SettingsView::FolderChooser SettingsView::defaultFolderChooser()
{
    return [](QWidget *parent) -> std::optional<QString> {
        QFileDialog dialog(parent, QStringLiteral("Select a folder to sync with Tavrel"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    };
}

QWidget *SettingsView::buildFoldersTab()
{
    auto *tab = new QWidget(this);
    auto *layout = tabLayout(tab);
    layout->addWidget(viewstyle::label(QStringLiteral("Watched Folders"), TextStyle::headline));
    layout->addWidget(viewstyle::label(QStringLiteral("Select up to 5 folders to sync with Tavrel."), TextStyle::caption,
                                       symbols::secondary()));

    m_folderList = new QListWidget(tab);
    m_folderList->setMinimumHeight(120);
    m_folderList->setSelectionMode(QAbstractItemView::NoSelection);
    m_folderList->setFocusPolicy(Qt::NoFocus);
    m_folderList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_folderList, 1);

    auto *addRow = new QHBoxLayout;
    m_addFolder = new QPushButton(QStringLiteral("Add Folder..."), tab);
    connect(m_addFolder, &QPushButton::clicked, this, &SettingsView::selectFolder);
    addRow->addWidget(m_addFolder);
    addRow->addStretch(1);
    m_folderCount = viewstyle::label(QString(), TextStyle::caption, symbols::secondary(), tab);
    addRow->addWidget(m_folderCount);
    layout->addLayout(addRow);

    layout->addWidget(viewstyle::divider(tab));

    auto *intervalRow = new QHBoxLayout;
    intervalRow->addWidget(new QLabel(QStringLiteral("Sync every"), tab));
    m_intervalPicker = new QComboBox(tab);
    m_intervalPicker->setFixedWidth(140);
    for (const Interval &interval : intervals)
        m_intervalPicker->addItem(QString::fromLatin1(interval.label), interval.seconds);
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
    layout->addWidget(viewstyle::label(QStringLiteral("Account"), TextStyle::headline));
    m_accountForm = new QFormLayout;
    m_accountForm->setLabelAlignment(Qt::AlignRight);
    m_accountForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_accountForm->setHorizontalSpacing(12);
    m_accountForm->setVerticalSpacing(8);
    layout->addLayout(m_accountForm);
    layout->addStretch(1);

    m_signOut = new QPushButton(QStringLiteral("Sign Out"), tab);
    m_signOut->setObjectName(QStringLiteral("signOutButton"));
    QPalette palette = m_signOut->palette();
    palette.setColor(QPalette::ButtonText, symbols::red());
    m_signOut->setPalette(palette);
    connect(m_signOut, &QPushButton::clicked, this, &SettingsView::logout);
    layout->addWidget(m_signOut, 0, Qt::AlignLeft);
    return tab;
}

void SettingsView::refreshFolders()
{
    m_folderList->clear();
    const QStringList folders = m_appState.watchedFolders();
    for (qsizetype index = 0; index < folders.size(); ++index) {
        const QString &path = folders[index];
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("folderRow"));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(6, 4, 6, 4);
        rowLayout->setSpacing(8);
        rowLayout->addWidget(viewstyle::symbolLabel(QStringLiteral("folder.fill"), symbols::blue(), 18, row));

        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto *name = new ElidedLabel(QFileInfo(path).fileName(), row);
        name->setObjectName(QStringLiteral("folderName"));
        name->setFont(viewstyle::font(TextStyle::body));
        auto *fullPath = new ElidedLabel(path, row);
        fullPath->setObjectName(QStringLiteral("folderPath"));
        fullPath->setFont(viewstyle::font(TextStyle::caption));
        viewstyle::setColor(fullPath, symbols::secondary());
        texts->addWidget(name);
        texts->addWidget(fullPath);
        rowLayout->addLayout(texts, 1);

        auto *remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("removeFolderButton"));
        remove->setAutoRaise(true);
        remove->setIcon(symbols::icon(QStringLiteral("minus.circle.fill"), symbols::red()));
        remove->setIconSize(QSize(16, 16));
        remove->setToolTip(QStringLiteral("Stop syncing this folder"));
        remove->setStyleSheet(QStringLiteral("QToolButton { border: none; }"));
        const int position = int(index);
        // Queued: the row (and this button) is rebuilt by the removal.
        connect(remove, &QToolButton::clicked, this,
                [this, position] { m_appState.removeWatchedFolder(position); }, Qt::QueuedConnection);
        rowLayout->addWidget(remove);

        auto *item = new QListWidgetItem(m_folderList);
        item->setSizeHint(row->sizeHint());
        m_folderList->setItemWidget(item, row);
    }
    m_addFolder->setEnabled(folders.size() < AppState::maxWatchedFolders);
    m_folderCount->setText(QStringLiteral("%1/5 folders").arg(folders.size()));
}

void SettingsView::refreshAccount()
{
    while (m_accountForm->rowCount() > 0)
        m_accountForm->removeRow(0);
    auto addValue = [this](const QString &title, const QString &value) {
        auto *valueLabel = new ElidedLabel(value);
        valueLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto *titleLabel = new QLabel(title);
        viewstyle::setColor(titleLabel, symbols::secondary());
        m_accountForm->addRow(titleLabel, valueLabel);
    };
    if (const auto user = m_appState.userInfo()) {
        addValue(QStringLiteral("Name"), user->displayName);
        addValue(QStringLiteral("Email"), user->email);
        addValue(QStringLiteral("Organization"), user->organization);
    }
    const auto server = CredentialStore(m_appState.preferences()).read(QStringLiteral("server_url"));
    addValue(QStringLiteral("Server"), server.value_or(QStringLiteral("Unknown")));
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

void SettingsView::selectFolder()
{
    if (!m_chooseFolder)
        return;
    if (const std::optional<QString> chosen = m_chooseFolder(this))
        m_appState.addWatchedFolder(*chosen);
}

void SettingsView::logout()
{
    signOut(m_apiClient, m_appState, m_onLogout);
}

void SettingsView::showEvent(QShowEvent *event)
{
    QTabWidget::showEvent(event);
    refreshAccount();
    raise();
    activateWindow();
}
