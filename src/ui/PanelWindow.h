#pragma once

#include <QElapsedTimer>
#include <QWidget>

class MenuBarView;

// The window that holds the panel content. Beside a tray icon it is a
// frameless popup that closes on a click outside or on Escape; without a
// tray it is an ordinary window whose closing only hides it. Every showing
// emits appeared().
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    enum class Mode { popup, window };

    PanelWindow(MenuBarView *content, Mode mode);

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    MenuBarView *content() const { return m_content; }

    // Shows the popup next to the tray icon's area, inside the screen; an
    // empty area places it at the pointer.
    void showBeside(const QRect &trayArea);
    // The popup's place for a tray area on a screen area (exposed for tests).
    static QPoint placement(const QSize &size, const QRect &trayArea, const QRect &screenArea);

    // Whether the popup was closed within the last moments (a click on the
    // tray icon closes it first, and must not reopen it at once).
    bool justClosed() const;

signals:
    void appeared();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    MenuBarView *m_content;
    Mode m_mode = Mode::window;
    QElapsedTimer m_sinceHidden;
};
