#pragma once

#include <QLabel>

// A one-line label that cuts its text with "…" when it is wider than the
// space it gets, instead of pushing its parent wider. text() returns the
// full text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = QString(), QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
