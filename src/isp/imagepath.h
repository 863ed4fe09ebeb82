#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A firmware file's name as the file system knows it, and as people read it.
// On Unix a name is bytes that need not be UTF-8 ("\xff\xfe.bin"): the file
// is opened by those bytes and shown with replacement characters. Windows
// names are Unicode and opened by the shown name.
struct ImagePath {
    QByteArray native;
    QString shown;

    // A name typed or chosen in a dialog.
    static ImagePath fromName(const QString &name) { return {QFile::encodeName(name), name}; }
    // A command-line argument: its raw bytes, and Qt's reading of them.
    static ImagePath fromArgument(const QByteArray &raw, const QString &decoded) { return {raw, decoded}; }
};
