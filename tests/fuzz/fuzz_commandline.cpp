// Any argument list gives a request, an answer or a usage error; nothing else.
#include "cli/commandline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArrayList raw{QByteArrayLiteral("custdisp-cli")};
    for (const QByteArray &arg : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).replace('\n', '\0').split('\0'))
        raw.append(arg);
    QStringList arguments;
    for (const QByteArray &arg : raw)
        arguments.append(QString::fromLocal8Bit(arg));
    const ParsedCommandLine parsed = parseCommandLine(arguments, raw);
    (void)parsed;
    return 0;
}
