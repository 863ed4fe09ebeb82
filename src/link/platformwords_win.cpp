#include "link/platformwords.h"

namespace PlatformWords {

QString exampleDevice()
{
    return QStringLiteral("COM5");
}

QString deviceKind()
{
    return QStringLiteral("a port name such as ") + exampleDevice();
}

QString simulatorNote()
{
    return QStringLiteral(" Linux only.");
}

}  // namespace PlatformWords
