#pragma once

#include <QtGlobal>

class QSerialPort;

// What the driver holds for an open port, one implementation per platform.

// How many written bytes the driver still holds, not yet on the line; -1 if
// the device will not say (unplugged, hung up). Never blocks.
qint64 unsentInDriver(QSerialPort &port);

// Drops what was received and not yet read, without disturbing a read of
// Qt's that is under way.
void dropReceived(QSerialPort &port);

// Drops what is queued and not yet sent, without aborting a write under way.
void dropUnsent(QSerialPort &port);

// After a write error with bytes still queued: true if the line is there and
// only cannot take more bytes yet, false if it is gone (hung up, unplugged).
bool lineIsOnlyFull(QSerialPort &port);
