#include "ui/ProxySettingsView.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

ProxySettingsView::ProxySettingsView(const ProxySettings &current, Apply apply, QWidget *parent)
    : QWidget(parent)
    , m_apply(std::move(apply))
    , m_applied(current)
{
    auto *layout = new QVBoxLayout(this);
    m_none = new QRadioButton(tr("No proxy"), this);
    m_system = new QRadioButton(tr("Use the system's proxy settings"), this);
    m_manual = new QRadioButton(tr("Use this HTTP proxy:"), this);
    layout->addWidget(m_none);
    layout->addWidget(m_system);
    layout->addWidget(m_manual);

    auto *form = new QFormLayout;
    form->setContentsMargins(24, 0, 0, 0);
    m_host = new QLineEdit(current.host, this);
    m_host->setPlaceholderText(tr("proxy.example.com"));
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(current.port);
    m_user = new QLineEdit(current.user, this);
    m_user->setPlaceholderText(tr("optional"));
    m_password = new QLineEdit(current.password, this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("Host:"), m_host);
    form->addRow(tr("Port:"), m_port);
    form->addRow(tr("User:"), m_user);
    form->addRow(tr("Password:"), m_password);
    layout->addLayout(form);
    layout->addStretch();

    (current.mode == ProxySettings::Mode::none     ? m_none
     : current.mode == ProxySettings::Mode::manual ? m_manual
                                                   : m_system)
        ->setChecked(true);
    for (QWidget *field : {static_cast<QWidget *>(m_host), static_cast<QWidget *>(m_port),
                           static_cast<QWidget *>(m_user), static_cast<QWidget *>(m_password)})
        field->setEnabled(m_manual->isChecked());

    for (QRadioButton *button : {m_none, m_system, m_manual})
        connect(button, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                changed();
        });
    for (QLineEdit *field : {m_host, m_user, m_password})
        connect(field, &QLineEdit::editingFinished, this, &ProxySettingsView::changed);
    connect(m_port, &QSpinBox::editingFinished, this, &ProxySettingsView::changed);
}

ProxySettings ProxySettingsView::settings() const
{
    ProxySettings settings;
    settings.mode = m_none->isChecked()     ? ProxySettings::Mode::none
        : m_manual->isChecked()             ? ProxySettings::Mode::manual
                                            : ProxySettings::Mode::system;
    settings.host = m_host->text().trimmed();
    settings.port = m_port->value();
    settings.user = m_user->text().trimmed();
    settings.password = m_password->text();
    return settings;
}

void ProxySettingsView::changed()
{
    const bool manual = m_manual->isChecked();
    for (QWidget *field : {static_cast<QWidget *>(m_host), static_cast<QWidget *>(m_port),
                           static_cast<QWidget *>(m_user), static_cast<QWidget *>(m_password)})
        field->setEnabled(manual);
    // Leaving a field unchanged, or moving between fields, is no change.
    const ProxySettings now = settings();
    if (now == m_applied)
        return;
    m_applied = now;
    m_apply(now);
}
