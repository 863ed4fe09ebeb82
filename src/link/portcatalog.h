#pragma once

#include <QList>
#include <QString>

// A serial port this machine has now, as the operator would recognise it.
struct FoundPort {
    QString device;        // /dev/ttyUSB0, COM5
    QString description;   // "FT232R USB UART"
    QString manufacturer;  // "FTDI"
    QString ids;           // vendor:product, "0403:6001"
    QString serialNumber;

    // "/dev/ttyUSB0  FT232R USB UART, FTDI, 0403:6001, A12345"
    QString label() const;
};

// Where the list of ports comes from: the system's (QSerialPortInfo) unless
// a caller, such as a test, offers its own.
class PortCatalog {
public:
    virtual ~PortCatalog() = default;
    virtual QList<FoundPort> ports() const;
    // Their devices, "/dev/ttyS0, /dev/ttyUSB0", or "none".
    QString deviceList() const;

    // The system's catalog.
    static const PortCatalog &system();
};
