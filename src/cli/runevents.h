#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct PortResult;

// What a run tells while it goes, for the live report on stderr. Called on
// the main thread only.
class RunEvents {
public:
    virtual ~RunEvents() = default;

    // A line for stderr now: a warning about the saved map, where the
    // simulated display is.
    virtual void note(const QString &line) = 0;
    // The ports are about to start, in command-line order; `imageBytes` is
    // the image's size for isp, else 0.
    virtual void starting(const QStringList &ports, qint64 imageBytes) = 0;
    virtual void progress(int port, int value, int maximum) = 0;
    virtual void finished(int port, const PortResult &result) = 0;
};
