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

    // False if the platform refused to pass the requests on.
    bool isListening() const { return m_listening; }

Q_SIGNALS:
    void requested();

private:
    bool m_listening = false;
};
