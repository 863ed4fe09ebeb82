#pragma once

#include <QCoreApplication>
#include <QString>

// Where the commands tell the operator how things went: a modal box in the
// window, a line on the terminal in the command line, a recorder in tests.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const QString &text, const QString &title) = 0;
};

// The title of messages that are not the download's own.
inline QString applicationTitle()
{
    return QCoreApplication::applicationName();
}
