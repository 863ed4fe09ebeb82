#pragma once

#include "cli/portresult.h"

#include <QList>
#include <QString>

// Progress of several ports on stderr: on a terminal one live line a port,
// redrawn in place; in a log, plain lines that start with the port.
class ProgressBoard {
public:
    ProgressBoard(const QStringList &ports, bool onTerminal, bool quiet);

    void update(int port, int value, int maximum);
    void finish(int port, const PortResult &result);
    // Leaves the board; what follows starts on a line of its own.
    void end();

private:
    QString line(int port) const;
    void redraw();

    struct Row {
        QString label;
        int value = 0;
        int maximum = 0;
        int lastTenth = -1;
        QString outcome;  // once finished
    };
    QList<Row> m_rows;
    bool m_onTerminal;
    bool m_quiet;
    bool m_drawn = false;
    qsizetype m_width = 0;
};
