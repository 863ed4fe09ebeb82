#include "cli/exitstatus.h"

#include "isp/ispframes.h"

#include <QLocale>
#include <QMap>

#include <algorithm>
#include <array>

namespace {

using O = DownloadOutcome;

struct ExitRow {
    DownloadOutcome outcome;
    int code;
    const char *summary;  // --help's line for the status
};

// In the order of the exit statuses, as --help lists them. Scripts and the
// fleet role read them: a status never changes its meaning.
constexpr std::array kRows{
    ExitRow{O::Completed, 0, "success"},
    ExitRow{O::UpToDate, 0, "success"},
    ExitRow{O::DialogCancelled, 2, "usage"},
    ExitRow{O::PortUnavailable, 3, "port unavailable"},
    ExitRow{O::FileUnreadable, 4, "file unreadable (missing, no permission, or not a regular file)"},
    ExitRow{O::ImageEmpty, 5, "image size not accepted (empty, or over %1 bytes)"},
    ExitRow{O::ImageTooLarge, 5, "image size not accepted (empty, or over %1 bytes)"},
    ExitRow{O::AccessTimeout, 6, "access time-out"},
    ExitRow{O::WrongVersion, 7, "wrong version"},
    ExitRow{O::AccessRefused, 8, "access refused"},
    ExitRow{O::EraseFailed, 9, "erase failed"},
    ExitRow{O::DataFrameFailed, 10, "data frame failed"},
    ExitRow{O::Cancelled, 11, "cancelled (Ctrl-C)"},
    ExitRow{O::RecordUnwritable, 13, "the display record cannot be written; nothing was sent"},
};

}  // namespace

int ExitCode::of(DownloadOutcome outcome)
{
    const auto row = std::find_if(kRows.begin(), kRows.end(), [outcome](const ExitRow &r) { return r.outcome == outcome; });
    Q_ASSERT(row != kRows.end());
    return row == kRows.end() ? kFailure : row->code;
}

// One line for a status that several outcomes share; the download's message
// beside the status where there is one.
QString ExitCode::helpList()
{
    QMap<int, QString> lines{{kFailure, QStringLiteral("other failure")},
                             {kSomeFailed, QStringLiteral("several ports, and some of them failed (the summary says which)")}};
    for (const ExitRow &row : kRows) {
        if (lines.contains(row.code))
            continue;
        QString line = QString::fromLatin1(row.summary);
        if (line.contains(QLatin1String("%1")))
            line = line.arg(QLocale(QLocale::English).toString(Isp::kMaxImageSize));
        if (const QString message = downloadMessage(row.outcome); row.code != kSuccess && !message.isEmpty())
            line += QStringLiteral(" (\"%1\")").arg(message);
        lines.insert(row.code, line);
    }
    QString text = QStringLiteral("\nExit codes:\n");
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        text += QStringLiteral("%1  %2\n").arg(it.key(), 4).arg(it.value());
    return text.chopped(1);
}
