#include "link/platformwords.h"

namespace PlatformWords {

QString exampleDevice()
{
    return QStringLiteral("/dev/ttyUSB0");
}

QString deviceKind()
{
    return QStringLiteral("a device path such as ") + exampleDevice();
}

QString simulatorNote()
{
    return {};
}

}  // namespace PlatformWords
