#include "cli/terminal.h"

#include <unistd.h>

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
