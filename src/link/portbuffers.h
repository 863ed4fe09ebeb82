#pragma once

class QSerialPort;

// What the driver holds for an open port, one implementation per platform.

// Blocks until the bytes the driver holds have left the line; call it once
// Qt's own queue is empty. False if the device refuses (unplugged, hung up).
bool drainToWire(QSerialPort &port);

// Drops what was received and not yet read, without disturbing a read of
// Qt's that is under way.
void dropReceived(QSerialPort &port);

// Drops what is queued and not yet sent, without aborting a write under way.
void dropUnsent(QSerialPort &port);

// After a write error with bytes still queued: true if the line is there and
// only cannot take more bytes yet, false if it is gone (hung up, unplugged).
bool lineIsOnlyFull(QSerialPort &port);
