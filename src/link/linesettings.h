#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// A settings string such as "9600,N,8,1": speed, parity, data bits, stop bits.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // nullopt for anything malformed; a port is never opened with a guess.
    static std::optional<LineSettings> parse(const QString &text);
};
