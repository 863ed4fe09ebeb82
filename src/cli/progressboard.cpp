#include "cli/progressboard.h"

#include "cli/portresult.h"

#include <cstdio>

ProgressBoard::ProgressBoard(const QStringList &ports, bool onTerminal) : m_onTerminal(onTerminal)
{
    for (const QString &port : ports) {
        Row row;
        row.label = port;
        m_rows.append(row);
        m_width = qMax(m_width, port.size());
    }
}

QString ProgressBoard::line(int port) const
{
    const Row &r = m_rows.at(port);
    QString text = r.label.leftJustified(m_width + 2);
    if (!r.outcome.isEmpty())
        return text + r.outcome;
    if (r.maximum <= 0)
        return text + QStringLiteral("...");
    constexpr int kWidth = 20;
    const int filled = r.value * kWidth / r.maximum;
    // clang-format off
    return text + QStringLiteral("[%1%2]  %3/%4 frames")
                      .arg(QString(filled, QLatin1Char('#')), QString(kWidth - filled, QLatin1Char(' ')))
                      .arg(r.value)
                      .arg(r.maximum);
    // clang-format on
}

void ProgressBoard::redraw()
{
    // Back to the board's first line, then every line anew.
    if (m_drawn)
        std::fprintf(stderr, "\x1b[%lldA", static_cast<long long>(m_rows.size()));
    for (int i = 0; i < m_rows.size(); ++i)
        std::fprintf(stderr, "\r\x1b[K%s\n", qPrintable(line(i)));
    m_drawn = true;
    std::fflush(stderr);
}

void ProgressBoard::update(int port, int value, int maximum)
{
    Row &r = m_rows[port];
    r.value = value;
    r.maximum = maximum;
    if (maximum <= 0 || value <= 0)
        return;
    if (m_onTerminal) {
        redraw();
        return;
    }
    const int tenth = value * 10 / maximum;
    if (tenth == r.lastTenth)
        return;
    r.lastTenth = tenth;
    std::fprintf(stderr, "%s: progress: %d%% (%d/%d frames)\n", qPrintable(r.label), tenth * 10, value, maximum);
    std::fflush(stderr);
}

void ProgressBoard::finish(int port, const PortResult &result)
{
    Row &r = m_rows[port];
    r.outcome = result.outcomeText();
    if (m_onTerminal) {
        redraw();
        return;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(r.label), qPrintable(r.outcome));
    std::fflush(stderr);
}
