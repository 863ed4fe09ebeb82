#include "cli/progressbar.h"

#include "isp/ispframes.h"

#include <QByteArray>

#include <cstdio>

ProgressBar::ProgressBar(qint64 imageBytes, bool onTerminal) : m_imageBytes(imageBytes), m_onTerminal(onTerminal)
{
    m_clock.start();
}

void ProgressBar::update(int, int value, int maximum)
{
    if (maximum != m_maximum) {
        m_maximum = maximum;
        m_lastTenth = -1;
        m_clock.restart();
    }
    if (m_maximum <= 0 || value <= 0)
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

void ProgressBar::finish(int, const PortResult &)
{
    if (m_barShown) {
        std::fputc('\n', stderr);
        m_barShown = false;
    }
}
