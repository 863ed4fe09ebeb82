#include "cli/livereport.h"

#include "cli/progressbar.h"
#include "cli/progressboard.h"
#include "cli/terminal.h"

#include <cstdio>

void LiveReport::note(const QString &line)
{
    writeText(stderr, line + QLatin1Char('\n'));
}

void LiveReport::starting(const QStringList &ports, qint64 imageBytes)
{
    if (m_quiet)
        m_view.reset();
    else if (ports.size() == 1)
        m_view = std::make_unique<ProgressBar>(imageBytes, stderrIsTerminal());
    else
        m_view = std::make_unique<ProgressBoard>(ports, stderrIsTerminal());
}

void LiveReport::progress(int port, int value, int maximum)
{
    if (m_view)
        m_view->update(port, value, maximum);
}

void LiveReport::finished(int port, const PortResult &result)
{
    if (m_view)
        m_view->finish(port, result);
}
