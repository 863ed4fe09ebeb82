#pragma once

#include "isp/downloadprocedure.h"
#include "link/target.h"

#include <QObject>
#include <QString>

class Operator;
class RecordKeeper;
class SerialLink;

// "ISP" as the window runs it: the file dialog and the image, then the
// download procedure, told to the operator in the one order the operator
// knows: message, port, buttons, bar. Through the operator only; it never
// waits itself.
class IspCommand : public QObject {
    Q_OBJECT
public:
    static inline const QString kTitle = QStringLiteral("ISP Message");

    IspCommand(SerialLink &link, Operator &op, RecordKeeper &records, DownloadTimings timings = {},
               QObject *parent = nullptr);

    // Asks the operator for the file and starts; finished() tells the end
    // (at once when it ends before the procedure starts). `use.keep` false
    // keeps the display out of the PC's record (a simulated one).
    void run(const Target &target, RecordUse use = {});
    // Stops at the next step; nothing more is sent and no success is reported.
    void stop();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void finished(const DownloadResult &result);

private:
    void tell(const DownloadResult &result);
    void procedureEnded(const DownloadResult &result);
    void end(const DownloadResult &result);

    Operator &m_operator;
    DownloadProcedure m_procedure;
    Target m_target;
    bool m_running = false;
    bool m_greyed = false;  // the buttons went grey: they come back on the way out
};
