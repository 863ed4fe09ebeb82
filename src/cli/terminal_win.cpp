#include "cli/terminal.h"

#include <io.h>
#include <windows.h>

bool stderrIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

void writeText(std::FILE *stream, const QString &text)
{
    std::fflush(stream);
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        // A console shows UTF-16 whatever its code page; bytes it would read
        // in the ANSI or OEM code page and show é wrongly.
        const auto *chars = reinterpret_cast<const wchar_t *>(text.utf16());
        for (qsizetype done = 0; done < text.size();) {
            DWORD written = 0;
            const auto chunk = DWORD(qMin<qsizetype>(text.size() - done, 8192));
            if (!::WriteConsoleW(handle, chars + done, chunk, &written, nullptr) || written == 0)
                return;
            done += written;
        }
        return;
    }
    // A file or a pipe: UTF-8, what scripts and editors read today.
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
