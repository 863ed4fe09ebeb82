#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// The operator's choices: the PC port and its line settings, and the four
// display parameters that travel in the parameter packet. Plain state with the
// click rules of the six option groups; no widgets, so the command line shares it.
struct Settings {
    qint16 CommPortNumber = 1;
    QString PortSettings = QStringLiteral("9600,N,8,1");
    // Byte 7 (the check byte) starts zero and is only ever written by the
    // packet builder.
    std::array<quint8, 8> ParamPacket{2, 1, 49, 48, 10, 0, 3, 0};

    // Click rules: each writes exactly one field from the member's index.
    void clickOptPort(int index);
    void clickOptBaud(int index);  // members 1..6; any other index changes nothing
    void clickOptBaud1(int index);
    void clickOptLg(int index);
    void clickOptCode(int index);
    void clickOptCMD(int index);
};

// One option group as the window shows it: its members' indices and captions,
// and which member matches the start values.
struct OptionGroup {
    const char *name;          // object name of the group, e.g. "OptLg"
    const char *frameCaption;  // caption of its frame
    int firstIndex;            // OptBaud numbers its members from 1
    QStringList captions;      // in index order
    int startIndex;
    void (Settings::*click)(int);

    int lastIndex() const { return firstIndex + int(captions.size()) - 1; }
    // The member whose caption matches, ignoring case; nullopt if none does.
    std::optional<int> indexOf(const QString &caption) const;
};

namespace OptionGroups {
const OptionGroup &port();         // OptPort
const OptionGroup &baudRate();     // OptBaud: the PC's line speed
const OptionGroup &displayBaud();  // optBaud1: the display's own speed
const OptionGroup &language();     // OptLg
const OptionGroup &codeTable();    // OptCode
const OptionGroup &emulation();    // OptCMD
}  // namespace OptionGroups
