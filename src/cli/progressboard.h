#pragma once

#include "cli/progressview.h"

#include <QList>
#include <QString>
#include <QStringList>

// Progress of several ports: on a terminal one live line a port, redrawn in
// place; in a log, plain lines that start with the port.
class ProgressBoard : public ProgressView {
public:
    ProgressBoard(const QStringList &ports, bool onTerminal);

    void update(int port, int value, int maximum) override;
    void finish(int port, const PortResult &result) override;

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
    bool m_drawn = false;
    qsizetype m_width = 0;
};
