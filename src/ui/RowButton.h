#pragma once

#include <QAbstractButton>

class QHBoxLayout;

// A full-width clickable row holding its own widgets (a symbol, a name, an
// age...) laid out left to right, lit under the pointer. Labels inside it
// pass their clicks on to the row.
class RowButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit RowButton(QWidget *parent = nullptr);

    QHBoxLayout *rowLayout() const { return m_layout; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QHBoxLayout *m_layout;
};
