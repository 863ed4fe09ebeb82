#pragma once

#include <QObject>

// Turns the terminal's requests to stop (Ctrl-C, Ctrl-\ (quit), SIGTERM, a hang-up
// on Unix; Ctrl-C, Ctrl-Break and closing the console on Windows) into a
// signal on the main thread, so a download stops between two steps like after any other event.
// One instance at a time; while it lives, those requests no longer end the
// program at once.
class StopRequests : public QObject {
    Q_OBJECT
public:
    explicit StopRequests(QObject *parent = nullptr);
    ~StopRequests() override;

    // From now on to the end of the process, a stop request no longer ends
    // the program at once: one that comes before any instance listens is
    // held, and the first instance reports it as soon as it exists. Called
    // first thing in main(), once the standard descriptors are open.
    static void holdFromNowOn();

    // False if the platform refused to pass the requests on.
    bool isListening() const { return m_listening; }

Q_SIGNALS:
    void requested();

private:
    bool m_listening = false;
};
