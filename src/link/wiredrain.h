#pragma once

class QSerialPort;

// Blocks until the bytes the driver holds for `port` have left the line.
// False if the device refuses (unplugged, hung up).
bool drainToWire(QSerialPort &port);
