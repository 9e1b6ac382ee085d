#pragma once

#include <QString>

// Whether the desktop starts TavrelSync when the user logs in: an XDG
// autostart entry, $XDG_CONFIG_HOME/autostart/com.tavrel.TavrelSync.desktop
// (default ~/.config/autostart). The entry is the only record of the
// choice, so what the settings show is what the desktop will do.
class Autostart {
public:
    explicit Autostart(QString entryPath = defaultEntryPath());

    static QString defaultEntryPath();
    const QString &entryPath() const { return m_entryPath; }

    // The entry exists and is not marked hidden (the desktop's own way of
    // switching one off).
    bool isEnabled() const;
    // Writes an entry that starts `program`, or removes it. False, with the
    // reason logged, when the file cannot be written or removed.
    bool setEnabled(bool enabled, const QString &program);

    // The entry's text; empty when `program` cannot be named in one
    // (a line break in its path).
    static QString entryText(const QString &program);

private:
    QString m_entryPath;
};
