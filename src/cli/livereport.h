#pragma once

#include "cli/progressview.h"
#include "cli/runevents.h"

#include <memory>

// The run as it goes, on stderr: notes at once, and the progress of one port
// as a bar, of several as a board; nothing of the progress with --quiet.
class LiveReport : public RunEvents {
public:
    explicit LiveReport(bool quiet) : m_quiet(quiet) {}

    void note(const QString &line) override;
    void starting(const QStringList &ports, qint64 imageBytes) override;
    void progress(int port, int value, int maximum) override;
    void finished(int port, const PortResult &result) override;

private:
    bool m_quiet;
    std::unique_ptr<ProgressView> m_view;
};
