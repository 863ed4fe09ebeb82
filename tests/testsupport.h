#pragma once

#include "link/target.h"

#include "app/operator.h"
#include "link/seriallink.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <functional>

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A port as a front end resolves it, for tests that open devices by name.
inline Target targetAt(const QString &device, const QString &lineSettings)
{
    return {device, device, LineSettings::parse(lineSettings), Target::unavailable(device)};
}

inline QByteArray randomImage(qsizetype size)
{
    // Seeded by the size, so a failure can be reproduced.
    QRandomGenerator generator(quint32(size) ^ 0x5eedu);
    QByteArray image(size, '\0');
    for (char &c : image)
        c = char(generator.bounded(256));
    return image;
}

// Writes `bytes` to `name`; returns the name, empty if it could not be written.
inline QString writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return {};
    return name;
}

// The operator as tests see it: every call in order, with the state of the
// port at that moment, so that tests can check the order of the exit steps.
class RecordingOperator : public Operator {
public:
    explicit RecordingOperator(const SerialLink *link = nullptr) : m_link(link)
    {
        QCoreApplication::setApplicationName(QStringLiteral("custdisp"));
    }

    std::optional<QString> file;  // nullopt: the operator cancels the dialog
    QStringList events;           // "message ISP Message|Time Out Error!|port open", ...
    QStringList messages;         // "title|text"
    int progressMaximum = 100;
    int progressValue = 0;
    int dialogs = 0;
    bool commandsEnabled = true;
    std::function<void(const QString &event)> onEvent;

    void showMessage(const QString &text, const QString &title) override
    {
        messages.append(title + QLatin1Char('|') + text);
        record(QStringLiteral("message ") + title + QLatin1Char('|') + text);
    }
    std::optional<ImagePath> chooseFirmwareFile() override
    {
        ++dialogs;
        record(QStringLiteral("dialog"));
        if (!file)
            return std::nullopt;
        return ImagePath::fromName(*file);
    }
    void setProgressMaximum(int maximum) override
    {
        progressMaximum = maximum;
        record(QStringLiteral("max %1").arg(maximum));
    }
    void setProgressValue(int value) override
    {
        progressValue = value;
        record(QStringLiteral("value %1").arg(value));
    }
    void setCommandsEnabled(bool enabled) override
    {
        commandsEnabled = enabled;
        record(enabled ? QStringLiteral("enable") : QStringLiteral("disable"));
    }

    // The events without the progress values, for checking the order of steps.
    QStringList steps() const
    {
        QStringList s;
        for (const QString &e : events) {
            if (!e.startsWith(QLatin1String("value")) && !e.startsWith(QLatin1String("max")))
                s.append(e);
        }
        return s;
    }

private:
    void record(QString event)
    {
        if (m_link)
            event += m_link->isOpen() ? QStringLiteral("|port open") : QStringLiteral("|port closed");
        events.append(event);
        if (onEvent)
            onEvent(event);
    }

    const SerialLink *m_link;
};
