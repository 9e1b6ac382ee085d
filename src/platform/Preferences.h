#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The per-user key-value store: one JSON object in
// $XDG_CONFIG_HOME/TavrelSync/preferences.json (default ~/.config), written
// atomically with mode 0600 because it holds the bearer token. Values keep
// their type (text, array of binary data, double); a value of another type
// reads as absent. An unreadable or corrupt file reads as empty and is kept
// beside the new one as "preferences.json.unreadable".
//
// A change is written on a thread of the store's own, in order; a store
// made later and a store going away wait for the writes before them.
class Preferences {
public:
    explicit Preferences(QString filePath = defaultFilePath());
    ~Preferences();
    Preferences(const Preferences &) = delete;
    Preferences &operator=(const Preferences &) = delete;

    // Returns when every change made so far is in its file.
    static void waitForWrites();

    // A larger file reads as unreadable.
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    static QString defaultFilePath();
    const QString &filePath() const { return m_filePath; }

    std::optional<QString> string(const QString &key) const;
    std::optional<QList<QByteArray>> dataArray(const QString &key) const;
    std::optional<double> doubleValue(const QString &key) const;
    bool contains(const QString &key) const;

    void setString(const QString &key, const QString &value);
    void setDataArray(const QString &key, const QList<QByteArray> &value);
    void setDouble(const QString &key, double value);
    void remove(const QString &key);

private:
    void writeFile();

    QString m_filePath;
    QJsonObject m_values; // loaded at construction, written whole on each change
    // A file was there but could not be read: it is moved aside, not
    // overwritten, by the first write, so that a hand-edit gone wrong can
    // still be repaired.
    bool m_keepUnreadableFile = false;
};
