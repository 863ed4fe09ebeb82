#include "cli/terminaloperator.h"

#include "cli/terminal.h"
#include "isp/ispframes.h"

TerminalOperator::TerminalOperator(ImagePath file, bool quiet, bool messagesToStdout)
    : m_file(std::move(file)), m_quiet(quiet), m_messagesToStdout(messagesToStdout), m_onTerminal(stderrIsTerminal())
{
    m_clock.start();
}

void TerminalOperator::showMessage(const QString &text, const QString &)
{
    endBarLine();
    if (!m_messagesToStdout)
        return;
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

void TerminalOperator::setProgressMaximum(int maximum)
{
    m_maximum = maximum;
    m_lastTenth = -1;
    m_clock.restart();
}

void TerminalOperator::setProgressValue(int value)
{
    if (m_quiet || m_maximum <= 0 || value <= 0)
        return;
    const qint64 bytes = qMin<qint64>(qint64(value) * Isp::kBlockSize, m_imageBytes);
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    if (m_onTerminal) {
        constexpr int kWidth = 30;
        const int filled = value * kWidth / m_maximum;
        std::fprintf(stderr, "\r[%s%s] %d/%d frames  %lld/%lld bytes  %.1f s",
                     QByteArray(filled, '#').constData(), QByteArray(kWidth - filled, '-').constData(), value,
                     m_maximum, static_cast<long long>(bytes), static_cast<long long>(m_imageBytes), seconds);
        m_barShown = true;
    } else {
        // No carriage returns in a log: one line for every tenth.
        const int tenth = value * 10 / m_maximum;
        if (tenth == m_lastTenth)
            return;
        m_lastTenth = tenth;
        std::fprintf(stderr, "progress: %d%% (%d/%d frames, %lld bytes, %.1f s)\n", tenth * 10, value, m_maximum,
                     static_cast<long long>(bytes), seconds);
    }
    std::fflush(stderr);
}

void TerminalOperator::endBarLine()
{
    if (m_barShown) {
        std::fputc('\n', stderr);
        m_barShown = false;
    }
}
