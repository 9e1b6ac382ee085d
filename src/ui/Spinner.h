#pragma once

#include <QTimer>
#include <QWidget>

// A small spinning progress indicator: an arc that turns while visible.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int size, const QColor &color, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_color;
    QTimer m_timer;
    int m_angle = 0;
};
