#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

// Takes the place of the desktop for file URLs while it lives: what the
// application asks the desktop to open is recorded instead of launched.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QStringList paths() const
    {
        QStringList result;
        for (const QUrl &url : m_urls)
            result << url.toLocalFile();
        return result;
    }

public slots:
    void open(const QUrl &url) { m_urls << url; }

private:
    QList<QUrl> m_urls;
};
