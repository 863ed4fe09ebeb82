// custdisp-sim: a simulated display as a program. Prints its device path on
// the first line, then one line for every message it hears, until stopped.
#include "settings/settings.h"
#include "sim/simulateddisplay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

QString caption(const OptionGroup &group, int index)
{
    const int i = index - group.firstIndex;
    return i >= 0 && i < group.captions.size() ? group.captions.at(i) : QStringLiteral("?");
}

// One line for a message, decoded as a technician would read it.
QString describe(const SimLogEntry &e)
{
    QString text = QStringLiteral("%1 ms  %2").arg(e.atMs, 8).arg(messageKindName(e.kind));
    switch (e.kind) {
    case MessageKind::ParameterPacket:
        if (e.note.isEmpty())
            text += QStringLiteral(": baud %1, language %2, code %3, emulation %4")
                        .arg(caption(OptionGroups::displayBaud(), 53 - quint8(e.bytes[2])),
                             caption(OptionGroups::language(), quint8(e.bytes[3]) - 48),
                             caption(OptionGroups::codeTable(), quint8(e.bytes[4]) - 1),
                             caption(OptionGroups::emulation(), quint8(e.bytes[5])));
        break;
    case MessageKind::DataFrame:
        text += QStringLiteral(" #%1 at %2..%3 attempt %4")
                    .arg(e.frame)
                    .arg(quint8(e.bytes[1]) * 256 + quint8(e.bytes[2]))
                    .arg(quint8(e.bytes[4]) * 256 + quint8(e.bytes[3]))
                    .arg(e.attempt);
        break;
    case MessageKind::Garbage:
        text += QStringLiteral(": %1").arg(QString::fromLatin1(e.bytes.toHex(' ')));
        break;
    default:
        break;
    }
    if (!e.note.isEmpty())
        text += QStringLiteral(" (%1)").arg(e.note);
    if (e.answer)
        text += QStringLiteral(" -> 0x") + QString::number(*e.answer, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    return text;
}

int g_stopPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("custdisp-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated customer display on a pseudo-terminal. Point the tool at the\n"
        "device path it prints: custdisp --com 1=PATH, or custdisp-cli -p PATH.\n\n"
        "Fault rules: KIND[#FRAME][@ATTEMPT]=ACTION, KIND access|erase|data|end,\n"
        "ACTION silent|hangup|0xNN[+Nms]; the first matching rule wins.\n"
        "Examples: access=0x1B  erase=silent  data#2@1=0x15  data#5=hangup"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption fault(QStringLiteral("fault"), QStringLiteral("Misbehave by this rule (repeatable)."),
                                   QStringLiteral("RULE"));
    const QCommandLineOption pace(QStringLiteral("pace"), QStringLiteral("Answer only after the bytes would have crossed a real line."));
    const QCommandLineOption save(QStringLiteral("save-image"), QStringLiteral("Write the rebuilt image here at every end frame."),
                                  QStringLiteral("FILE"));
    parser.addOptions({fault, pace, save});
    parser.process(app);

    FaultPlan plan;
    for (const QString &rule : parser.values(fault)) {
        QString error;
        const std::optional<FaultRule> r = FaultPlan::parseRule(rule, &error);
        if (!r) {
            std::fprintf(stderr, "custdisp-sim: %s\n", qPrintable(error));
            return 2;
        }
        plan.rules.append(*r);
    }

    SimulatedDisplay display;
    if (!display.isValid()) {
        std::fprintf(stderr, "custdisp-sim: %s\n", qPrintable(display.error()));
        return 1;
    }
    display.setFaultPlan(plan);
    display.setPacing(parser.isSet(pace));
    const QString imageFile = parser.value(save);
    display.setObserver([&display, imageFile](const SimLogEntry &e) {
        std::printf("%s\n", qPrintable(describe(e)));
        if (e.kind == MessageKind::EndFrame) {
            const QByteArray image = display.image();
            std::printf("image: %lld bytes, sha256 %s\n", static_cast<long long>(image.size()),
                        QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex().constData());
            if (!imageFile.isEmpty()) {
                QFile f(imageFile);
                if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(image) != image.size())
                    std::fprintf(stderr, "custdisp-sim: cannot write %s\n", qPrintable(imageFile));
            }
        }
        std::fflush(stdout);
    });

    std::printf("%s\n", qPrintable(display.devicePath()));
    std::fflush(stdout);

    if (::pipe(g_stopPipe) != 0)
        return 1;
    QSocketNotifier stop(g_stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return app.exec();
}
