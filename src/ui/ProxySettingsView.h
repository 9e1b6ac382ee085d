#pragma once

#include "state/ProxySettings.h"

#include <QWidget>
#include <functional>

class QLineEdit;
class QRadioButton;
class QSpinBox;

// The settings' "Network" tab: no proxy, the system's proxy settings (the
// default), or an HTTP proxy given by hand (host, port, and an optional
// user and password). A choice counts as soon as it is made, and a field as
// soon as it is left.
class ProxySettingsView : public QWidget {
    Q_OBJECT
public:
    using Apply = std::function<void(const ProxySettings &)>;
    ProxySettingsView(const ProxySettings &current, Apply apply, QWidget *parent = nullptr);

    ProxySettings settings() const;

    QRadioButton *noProxyButton() const { return m_none; }
    QRadioButton *systemProxyButton() const { return m_system; }
    QRadioButton *manualProxyButton() const { return m_manual; }
    QLineEdit *hostField() const { return m_host; }
    QSpinBox *portField() const { return m_port; }
    QLineEdit *userField() const { return m_user; }
    QLineEdit *passwordField() const { return m_password; }

private:
    void changed();

    Apply m_apply;
    ProxySettings m_applied;
    QRadioButton *m_none = nullptr;
    QRadioButton *m_system = nullptr;
    QRadioButton *m_manual = nullptr;
    QLineEdit *m_host = nullptr;
    QSpinBox *m_port = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
};
