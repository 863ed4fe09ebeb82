#include "settings/settings.h"

namespace {
constexpr int kPortCount = 4;
constexpr quint8 kDisplayBaudSlowest = 53;  // '5' for 600 baud; faster speeds count down
constexpr quint8 kLanguageBase = 48;        // '0'; runs past '9' into ':' ';' '<' '='

const QStringList kLineSpeeds = {QStringLiteral("600"), QStringLiteral("1200"),
                                 QStringLiteral("2400"), QStringLiteral("4800"),
                                 QStringLiteral("9600"), QStringLiteral("19200")};
}  // namespace

void Settings::clickOptPort(int index)
{
    if (index >= 0 && index < kPortCount)
        CommPortNumber = qint16(index + 1);
}

void Settings::clickOptBaud(int index)
{
    if (index < 1 || index > int(kLineSpeeds.size()))
        return;
    PortSettings = kLineSpeeds.at(index - 1) + QStringLiteral(",N,8,1");
}

void Settings::clickOptBaud1(int index)
{
    if (index >= 0 && index <= 5)
        ParamPacket[2] = quint8(kDisplayBaudSlowest - index);
}

void Settings::clickOptLg(int index)
{
    if (index >= 0 && index <= 13)
        ParamPacket[3] = quint8(kLanguageBase + index);
}

void Settings::clickOptCode(int index)
{
    if (index >= 0 && index <= 9)
        ParamPacket[4] = quint8(index + 1);
}

void Settings::clickOptCMD(int index)
{
    if (index >= 0 && index <= 6)
        ParamPacket[5] = quint8(index);
}

std::optional<int> OptionGroup::indexOf(const QString &caption) const
{
    for (qsizetype i = 0; i < captions.size(); ++i) {
        if (captions.at(i).compare(caption.trimmed(), Qt::CaseInsensitive) == 0)
            return firstIndex + int(i);
    }
    return std::nullopt;
}

namespace OptionGroups {

const OptionGroup &port()
{
    // clang-format off
    static const OptionGroup g{"OptPort", "Port", 0,
                               {QStringLiteral("Com 1"), QStringLiteral("Com 2"),
                                QStringLiteral("Com 3"), QStringLiteral("Com 4")},
                               0, &Settings::clickOptPort};
    // clang-format on
    return g;
}

const OptionGroup &baudRate()
{
    static const OptionGroup g{"OptBaud", "Baud Rate", 1, kLineSpeeds, 5, &Settings::clickOptBaud};
    return g;
}

const OptionGroup &displayBaud()
{
    static const OptionGroup g{"optBaud1", "Baud", 0, kLineSpeeds, 4, &Settings::clickOptBaud1};
    return g;
}

const OptionGroup &language()
{
    // clang-format off
    static const OptionGroup g{
        "OptLg", "Language", 0,
        {QStringLiteral("USA"), QStringLiteral("FRANCE"), QStringLiteral("GERMANY"),
         QStringLiteral("U.K"), QStringLiteral("DENMARK I"), QStringLiteral("SWEDEN"),
         QStringLiteral("ITALY"), QStringLiteral("SPAIN"), QStringLiteral("JAPAN"),
         QStringLiteral("NORWAY"), QStringLiteral("DENMARK II"), QStringLiteral("SLAVONIC"),
         QStringLiteral("RUSSIA"), QStringLiteral("RESERVED")},
        0, &Settings::clickOptLg};
    // clang-format on
    return g;
}

const OptionGroup &codeTable()
{
    // clang-format off
    static const OptionGroup g{
        "OptCode", "Code", 0,
        {QStringLiteral("JAPAN_CODE"), QStringLiteral("MULTI_LINGUAL_CODE"),
         QStringLiteral("PORTUGUESE_CODE"), QStringLiteral("CANADA_CODE"),
         QStringLiteral("NORDIC_CODE"), QStringLiteral("SLAVONIC_CODE"),
         QStringLiteral("RUSSIAN_CODE"), QStringLiteral("EURO_CODE"),
         QStringLiteral("WPC1252_CODE"), QStringLiteral("USA_EUROPE_CODE")},
        9, &Settings::clickOptCode};
    // clang-format on
    return g;
}

const OptionGroup &emulation()
{
    // clang-format off
    static const OptionGroup g{
        "OptCMD", "Command", 0,
        {QStringLiteral("DSP800"), QStringLiteral("ESC/POS"), QStringLiteral("ADM 787/788"),
         QStringLiteral("AEDEX"), QStringLiteral("UTC/P"), QStringLiteral("UTC/S"),
         QStringLiteral("CD5220")},
        0, &Settings::clickOptCMD};
    // clang-format on
    return g;
}

}  // namespace OptionGroups
