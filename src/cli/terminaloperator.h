#pragma once

#include "isp/operator.h"

#include <QElapsedTimer>

#include <cstdio>

// The download's operator on a terminal: the file comes from the command line,
// messages go to stdout, progress to stderr (a bar on a terminal, a plain line
// every 10% in a log).
class TerminalOperator : public Operator {
public:
    // `messagesToStdout` false: the outcome is reported otherwise (--json).
    TerminalOperator(ImagePath file, bool quiet, bool messagesToStdout = true);

    void showMessage(const QString &text, const QString &title) override;
    std::optional<ImagePath> chooseFirmwareFile() override { return m_file; }
    void imageAccepted(qint64 bytes) override { m_imageBytes = bytes; }
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setCommandsEnabled(bool) override {}

    // Ends a progress bar's line, so that what follows starts on its own.
    void endBarLine();

private:
    ImagePath m_file;
    qint64 m_imageBytes = 0;
    bool m_quiet;
    bool m_messagesToStdout;
    bool m_onTerminal;
    int m_maximum = 0;
    int m_lastTenth = -1;
    bool m_barShown = false;
    QElapsedTimer m_clock;
};
