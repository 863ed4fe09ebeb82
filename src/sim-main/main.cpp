// custdisp-sim: a simulated display as a program. Prints its device path on
// the first line, then one line for every message it hears, until stopped
// (and then for what the line still held).
#include "process/standarddescriptors.h"
#include "process/stoprequests.h"
#include "settings/settings.h"
#include "sim/savedimage.h"
#include "sim/simulateddisplay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <unistd.h>

namespace {

// How the display numbers each parameter, in the window's caption order: baud
// codes count down from '5', languages up from '0', code tables up from 1,
// command sets up from 0.
constexpr int kFirstBaudCode = '5';
constexpr int kFirstLanguage = '0';
constexpr int kFirstCodeTable = 1;
constexpr int kFirstEmulation = 0;

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
        if (e.note.isEmpty()) {
            const DisplayParameters p = DisplayParameters::ofPacket(e.bytes);
            text += QStringLiteral(": baud %1, language %2, code %3, emulation %4")
                        .arg(caption(OptionGroups::displayBaud(), kFirstBaudCode - p.baudCode),
                             caption(OptionGroups::language(), p.language - kFirstLanguage),
                             caption(OptionGroups::codeTable(), p.codeTable - kFirstCodeTable),
                             caption(OptionGroups::emulation(), p.emulation - kFirstEmulation));
        }
        break;
    case MessageKind::DataFrame: {
        const auto byte = [&e](qsizetype at) { return int(quint8(e.bytes[at])); };
        text += QStringLiteral(" #%1 at %2..%3 attempt %4")
                    .arg(e.frame)
                    .arg(byte(DisplayWire::kStartAt) * 256 + byte(DisplayWire::kStartAt + 1))
                    .arg(byte(DisplayWire::kEndAt + 1) * 256 + byte(DisplayWire::kEndAt))
                    .arg(e.attempt);
        break;
    }
    case MessageKind::Garbage:
        text += QStringLiteral(": %1").arg(QString::fromLatin1(e.bytes.toHex(' ')));
        if (e.byteCount > e.bytes.size())
            text += QStringLiteral(" ... (%1 bytes in all)").arg(e.byteCount);
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

// The image as received is whole blocks, the last one padded with
// zeros; without those zeros it is what a file that does not end in zero
// bytes held, so its hash can be compared with sha256sum of that file.
QString describeImage(const QByteArray &image)
{
    qsizetype end = image.size();
    while (end > 0 && image.at(end - 1) == '\0')
        --end;
    const QByteArrayView trimmed = QByteArrayView(image).first(end);
    const auto sha = [](QByteArrayView bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    };
    return QStringLiteral("image: %1 bytes received (padded to whole blocks), sha256 %2; "
                          "without trailing zeros: %3 bytes, sha256 %4")
        .arg(image.size())
        .arg(sha(image))
        .arg(end)
        .arg(sha(trimmed));
}

// Why the image could not be saved at PATH, checked before any download
// rather than after one; nullopt if it can be.
std::optional<QString> unsaveable(const QString &path)
{
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("%1 is a directory").arg(path);
    // A FIFO would block the display at its first end frame, a device would
    // take anything: only a regular file, or a new one.
    if (file.exists() && !file.isFile())
        return QStringLiteral("%1 is not a regular file").arg(path);
    const QString dir = file.absolutePath();
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("directory %1 does not exist").arg(dir);
    if (file.exists() ? ::access(QFile::encodeName(path).constData(), W_OK) != 0
                      : ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    return std::nullopt;
}

int usageError(const QString &why)
{
    std::fprintf(stderr, "custdisp-sim: %s\nTry 'custdisp-sim --help'.\n", qPrintable(why));
    return 2;
}

QString description()
{
    return QStringLiteral(
               "A simulated customer display on a pseudo-terminal. Point the tool at the\n"
               "device path it prints: custdisp --com 1=PATH, or custdisp-cli -p PATH.\n\n"
               "Fault rules: KIND[#FRAME][@ATTEMPT]=ACTION, KIND access|erase|data|end,\n"
               "FRAME 0..%1 (data only), ATTEMPT from 1,\n"
               "ACTION silent|hangup|0xNN[,0xNN...][+Nms][+then:0xNN[,0xNN...]@Nms][+hangup]\n"
               "(several bytes: it says more than asked; a delay of at most %2 ms;\n"
               "+then: more bytes that long after the answer; +hangup: answer, then\n"
               "close the line); the first matching rule wins.\n"
               "Examples: access=0x1B  erase=silent  data#2@1=0x15  data#5=hangup\n"
               "          data#2=0xAA+hangup  end=hangup  access=0x07,0x07\n"
               "          data#1=0xAA+then:0xAA@50ms\n\n"
               "At an end frame it prints the image as received (whole %3-byte blocks,\n"
               "zero-padded) and without its trailing zeros, each with its SHA-256.\n"
               "Exit code 2: a usage error.")
        .arg(FaultPlan::kLastFrame)
        .arg(FaultPlan::kMaxDelay.count())
        .arg(DisplayWire::kBlock);
}

// What the command line asks for.
struct Options {
    FaultPlan plan;
    QString imageFile;  // empty: none
};

// The options, or the exit code of a usage error (or of --help, --version).
std::variant<Options, int> parseOptions()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption fault(QStringLiteral("fault"), QStringLiteral("Misbehave by this rule (repeatable)."),
                                   QStringLiteral("RULE"));
    const QCommandLineOption pace(QStringLiteral("pace"), QStringLiteral("Answer only after the bytes would have crossed a real line (always so; kept for old scripts)."));
    const QCommandLineOption save(
        QStringLiteral("save-image"),
        QStringLiteral("Write the image as received (whole %1-byte blocks) here at every end frame.").arg(DisplayWire::kBlock),
        QStringLiteral("FILE"));
    parser.addOptions({fault, pace, save});
    // parse(), not process(): process() ends a usage error with exit code 1.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1': custdisp-sim takes options only")
                              .arg(parser.positionalArguments().constFirst()));

    Options options;
    for (const QString &rule : parser.values(fault)) {
        QString error;
        const std::optional<FaultRule> r = FaultPlan::parseRule(rule, &error);
        if (!r)
            return usageError(error);
        options.plan.rules.append(*r);
    }
    options.imageFile = parser.value(save);
    if (parser.isSet(save)) {
        if (options.imageFile.isEmpty())
            return usageError(QStringLiteral("--save-image needs a file name"));
        if (const std::optional<QString> why = unsaveable(options.imageFile))
            return usageError(QStringLiteral("--save-image: %1").arg(*why));
    }
    return options;
}

// Prints every message as the display logs it, the line settings whenever
// they change, and the image at every end frame (saved too if asked).
std::function<void(const SimLogEntry &)> printer(const SimulatedDisplay &display, const QString &imageFile)
{
    // The observer is copied for every message: what it last showed is shared.
    auto shownLine = std::make_shared<SimLineSettings>();
    return [&display, shownLine, imageFile](const SimLogEntry &e) {
        if (e.line.baud > 0 && e.line != *shownLine) {
            *shownLine = e.line;
            std::printf("line: %s\n", qPrintable(shownLine->toString()));
        }
        std::printf("%s\n", qPrintable(describe(e)));
        if (e.kind == MessageKind::EndFrame) {
            const QByteArray image = display.image();
            std::printf("%s\n", qPrintable(describeImage(image)));
            if (!imageFile.isEmpty()) {
                if (const QString why = saveImage(imageFile, image); !why.isEmpty())
                    std::fprintf(stderr, "custdisp-sim: cannot write %s: %s\n", qPrintable(imageFile), qPrintable(why));
            }
        }
        std::fflush(stdout);
    };
}

}  // namespace

int main(int argc, char *argv[])
{
    // Closed, they would be handed to the stop pipe: its first printed line would stop it.
    if (!openStandardDescriptors())
        return 1;
    StopRequests::holdFromNowOn();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("custdisp-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));

    const std::variant<Options, int> parsed = parseOptions();
    if (const int *exitCode = std::get_if<int>(&parsed))
        return *exitCode;
    const Options &options = std::get<Options>(parsed);

    SimulatedDisplay display;
    if (!display.isValid()) {
        std::fprintf(stderr, "custdisp-sim: %s\n", qPrintable(display.error()));
        return 1;
    }
    display.setFaultPlan(options.plan);
    display.setObserver(printer(display, options.imageFile));

    StopRequests stop;
    // What the tool wrote before the stop is still heard: the log then ends
    // with every message it sent, which is what a stopped run is read for.
    QObject::connect(&stop, &StopRequests::requested, &app, [&display] {
        display.hearOutstanding();
        display.hangUp();
        QCoreApplication::quit();
    });
    std::printf("%s\n", qPrintable(display.devicePath()));
    std::fflush(stdout);
    return app.exec();
}
