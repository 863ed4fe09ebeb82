#pragma once

#include "cli/progressview.h"

#include <QElapsedTimer>

// One port's progress: on a terminal a bar that redraws its own line, in a
// log a plain line every 10%.
class ProgressBar : public ProgressView {
public:
    ProgressBar(qint64 imageBytes, bool onTerminal);

    void update(int port, int value, int maximum) override;
    void finish(int port, const PortResult &result) override;

private:
    qint64 m_imageBytes;
    bool m_onTerminal;
    int m_maximum = 0;
    int m_lastTenth = -1;
    bool m_barShown = false;
    QElapsedTimer m_clock;
};
