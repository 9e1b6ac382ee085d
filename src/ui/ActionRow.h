#pragma once

#include <QPushButton>

// One full-width row of the signed-in panel: a symbol, the title beside it at
// the leading edge, padded 12 left and right and 6 top and bottom, drawn
// plain (no border) with a light highlight under the pointer.
class ActionRow : public QPushButton {
    Q_OBJECT
public:
    ActionRow(const QString &symbol, const QString &title, QWidget *parent = nullptr);
};

// The filled accent-coloured button style ("Sign In", "Sign In...").
void makeProminent(QPushButton *button, bool small = false);
// An answer that deletes something: outlined in red beside the prominent
// one, so the two are never taken for the same kind.
void makeDestructive(QPushButton *button, bool small = false);
