#include "link/portname.h"

#include <algorithm>

namespace WindowsPortName {

// Plain code, not a QRegularExpression: this runs on the display record
// keeper's thread, and a regular expression matched on a thread leaves Qt a
// per-thread object that MinGW's emulated thread-local storage frees before
// its destructor runs, which then crashes as the thread ends, holding the
// runtime's lock of thread keys, so that the program's exit waits on that
// lock for ever.
std::optional<QString> canonical(QStringView given)
{
    QStringView name = given;
    for (QStringView prefix : {QStringView(u"\\\\.\\"), QStringView(u"\\\\?\\"), QStringView(u"//./"), QStringView(u"//?/")}) {
        if (name.startsWith(prefix)) {
            name = name.mid(prefix.size());
            break;
        }
    }
    if (name.endsWith(u':'))
        name.chop(1);
    const QStringView digits = name.size() > 3 ? name.mid(3) : QStringView();
    if (name.first(std::min<qsizetype>(3, name.size())).compare(u"com", Qt::CaseInsensitive) != 0 || digits.isEmpty()
        || digits.front() == u'0' || !std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    return QStringLiteral("COM") + digits.toString();
}

QString ofNumber(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

QString mapWarning(const QString &device, const QStringList &present)
{
    if (device.isEmpty())
        return {};
    const QString here = present.isEmpty() ? QStringLiteral("none") : present.join(QStringLiteral(", "));
    const std::optional<QString> port = canonical(device);
    if (!port)
        return QStringLiteral("%1 is not a serial port name here (COM1, COM2, ...); serial ports here: %2; saved all the same")
            .arg(device, here);
    if (!present.contains(*port))
        return QStringLiteral("%1 is not present; serial ports here: %2; saved all the same").arg(*port, here);
    return {};
}

}  // namespace WindowsPortName
