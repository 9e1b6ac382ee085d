#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM (the session ending at logout, a service manager stopping
// the program), SIGINT and SIGHUP into a Qt signal delivered on the event
// loop, so that the program ends as "Quit" ends it: the state written, exit
// status 0. The signal handler only writes one byte to a pipe; everything
// else happens on the thread that made the object. One object at a time;
// while it lives these signals no longer end the process by themselves.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the handlers could not be installed (the signals then keep
    // their default action).
    bool isActive() const { return m_notifier != nullptr; }

signals:
    // The number of the signal that asked the program to end.
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
