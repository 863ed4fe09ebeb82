// From a byte's arrival at the line to its judgement, for N ports at once:
// N displays of its own (a thread each, on the master side of a
// pseudo-terminal) answer every message after its wire time and note the
// moment their answer was written; the tool's side notes when the download
// handed that answer to its session. One event loop for every port, or a
// thread a port. With a record mode (one loop only), each port runs the
// whole download procedure, with the display record of a folder of its own:
// `record` as it is, `record-locked` while another program holds the
// record's lock for its first 3 s, `record-slow` with every save taking
// 500 ms. None of them may delay a judgement: the record's file work runs
// off the loop.
//
//   custdisp-latency PORTS FRAMES one-loop|thread-per-port [record|record-locked|record-slow]
//
// Prints the percentiles of the latency (microseconds) and the wall time.
#include "isp/downloadprocedure.h"
#include "isp/firmwaredownload.h"
#include "isp/firmwareimage.h"
#include "link/linesettings.h"
#include "link/seriallink.h"
#include "record/recordkeeper.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBaud = 115200;  // short frames: many samples a second
// The display's own view of the messages: a 5-byte hello, then 192-byte frames.
constexpr int kHelloBytes = 5;
constexpr int kFrameBytes = 192;
constexpr char kHelloOk = 0x07;
constexpr char kFrameOk = char(0xAA);
constexpr char kEndType = 0x05;

// One display: reads whole messages, answers each once it has crossed.
struct Display {
    int master = -1;
    std::string slave;
    std::vector<Clock::time_point> answered;  // in order

    void run()
    {
        std::vector<char> message;
        size_t want = kHelloBytes;
        Clock::time_point first;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                return;
            if (message.empty())
                first = Clock::now();
            message.insert(message.end(), buf, buf + n);
            while (message.size() >= want) {
                const bool end = want == kFrameBytes && message.front() == kEndType;
                const char answer = want == kHelloBytes ? kHelloOk : kFrameOk;
                const size_t length = want;
                message.erase(message.begin(), message.begin() + long(want));
                want = kFrameBytes;
                if (end)
                    return;
                // The answer goes out once the message has crossed the line.
                std::this_thread::sleep_until(first + std::chrono::microseconds(10'000'000LL * long(length) / kBaud));
                first = Clock::now();
                // Stamped before the write: the tool may read the byte
                // before the write call has returned here.
                answered.push_back(Clock::now());
                if (::write(master, &answer, 1) != 1)
                    return;
            }
        }
    }
};

// One port of the tool: its link, its download (or the whole procedure,
// record and all), the moments it judged.
struct Port : QObject {
    SerialLink link;
    FirmwareDownload download;
    std::unique_ptr<DownloadProcedure> procedure;
    std::vector<Clock::time_point> judged;
    std::atomic<bool> done{false};

    Port(DownloadTimings t, RecordKeeper *records) : download(link, t)
    {
        // The answer is taken from the line right before the session judges it.
        connect(&link, &LineLink::traffic, this, [this](bool out, const QByteArray &) {
            if (!out)
                judged.push_back(Clock::now());
        });
        connect(&download, &FirmwareDownload::finished, this, [this] {
            link.close();
            done = true;
        });
        if (records) {
            procedure = std::make_unique<DownloadProcedure>(link, *records, t);
            connect(procedure.get(), &DownloadProcedure::finished, this, [this] { done = true; });
        }
    }
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *recordMode = argc == 5 ? argv[4] : "";
    const bool threads = argc >= 4 && std::strcmp(argv[3], "thread-per-port") == 0;
    const bool recorded = *recordMode != 0;
    if ((argc != 4 && argc != 5) || (recorded && threads)
        || (recorded && std::strcmp(recordMode, "record") != 0 && std::strcmp(recordMode, "record-locked") != 0
            && std::strcmp(recordMode, "record-slow") != 0)) {
        std::fprintf(stderr, "usage: %s PORTS FRAMES one-loop|thread-per-port [record|record-locked|record-slow]\n", argv[0]);
        return 2;
    }
    const int ports = std::atoi(argv[1]);
    const int frames = std::atoi(argv[2]);
    QTemporaryDir recordFolder;
    DisplayRecord onDisk(recordFolder.filePath(QStringLiteral("displays.json")));
    if (std::strcmp(recordMode, "record-slow") == 0)
        onDisk.slowEachSaveBy(std::chrono::milliseconds(500));
    // Another program saving: its lock file, held for the first 3 s.
    QLockFile otherProgram(onDisk.path() + QStringLiteral(".saving"));
    if (std::strcmp(recordMode, "record-locked") == 0) {
        if (!otherProgram.tryLock(0))
            return 1;
        QTimer::singleShot(3000, [&otherProgram] { otherProgram.unlock(); });
    }
    std::unique_ptr<RecordKeeper> records = recorded ? std::make_unique<RecordKeeper>(onDisk) : nullptr;
    DownloadTimings t;
    t.pauseAfterFrame = std::chrono::milliseconds(1);

    std::vector<std::unique_ptr<Display>> displays;
    std::vector<std::thread> displayThreads;
    std::vector<std::unique_ptr<Port>> tool;
    std::vector<std::unique_ptr<QThread>> toolThreads;
    std::vector<int> slaves;
    const QByteArray image(frames * 184 - 1, 'x');
    QTemporaryDir imageFolder;
    const QString imageName = imageFolder.filePath(QStringLiteral("image.bin"));
    {
        QFile f(imageName);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            return 1;
    }
    const auto imageFile = std::make_shared<const FirmwareImage>(FirmwareImage::read(ImagePath::fromName(imageName)));
    LineSettings line;
    line.baud = kBaud;
    for (int i = 0; i < ports; ++i) {
        auto d = std::make_unique<Display>();
        int slave = -1;
        char name[128];
        if (::openpty(&d->master, &slave, name, nullptr, nullptr) != 0)
            return 1;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        d->slave = name;
        displays.push_back(std::move(d));
        tool.push_back(nullptr);
        slaves.push_back(slave);
    }
    // Each port is made on the thread that drives it: its link, timers and
    // notifiers belong there.
    std::atomic<int> ready{0};
    const auto makePort = [&](int i) {
        auto p = std::make_unique<Port>(t, records.get());
        if (!records && p->link.open(QString::fromStdString(displays[size_t(i)]->slave), line)) {
            std::fprintf(stderr, "cannot open %s\n", displays[size_t(i)]->slave.c_str());
            std::exit(1);
        }
        tool[size_t(i)] = std::move(p);
        ++ready;
    };
    for (int i = 0; i < ports; ++i) {
        if (threads) {
            auto thread = std::make_unique<QThread>();
            QObject::connect(
                thread.get(), &QThread::started, thread.get(), [&makePort, i] { makePort(i); },
                Qt::DirectConnection);
            thread->start();
            toolThreads.push_back(std::move(thread));
        } else {
            makePort(i);
        }
    }
    while (ready < ports)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The links have their own descriptors; a procedure opens its port
    // itself, so its pty keeps this end open until then.
    if (!records) {
        for (int slave : slaves)
            ::close(slave);
    }
    for (auto &d : displays)
        displayThreads.emplace_back([&d] { d->run(); });
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < ports; ++i) {
        Port *port = tool[size_t(i)].get();
        if (threads) {
            QMetaObject::invokeMethod(
                port, [port, &image] { port->download.start(image); }, Qt::QueuedConnection);
        } else if (records) {
            const QString device = QString::fromStdString(displays[size_t(i)]->slave);
            port->procedure->start(Target{device, device, line, Target::unavailable(device)}, imageFile, RecordUse{},
                                   QStringLiteral("custdisp-latency"));
        } else {
            port->download.start(image);
        }
    }
    while (!std::all_of(tool.begin(), tool.end(), [](const auto &p) { return p->done.load(); }))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto &d : displays)
        ::close(d->master);
    for (auto &th : displayThreads)
        th.join();
    std::vector<double> us;
    for (int i = 0; i < ports; ++i) {
        const auto &a = displays[size_t(i)]->answered;
        const auto &j = tool[size_t(i)]->judged;
        for (size_t k = 0; k < std::min(a.size(), j.size()); ++k)
            us.push_back(std::chrono::duration<double, std::micro>(j[k] - a[k]).count());
    }
    for (int i = 0; i < ports; ++i) {
        if (threads) {  // each port ends on its own thread
            Port *port = tool[size_t(i)].release();
            QMetaObject::invokeMethod(
                port, [port] { delete port; }, Qt::BlockingQueuedConnection);
        }
    }
    for (auto &th : toolThreads) {
        th->quit();
        th->wait();
    }

    std::sort(us.begin(), us.end());
    const auto pct = [&](double p) { return us.empty() ? 0.0 : us[std::min(us.size() - 1, size_t(p / 100 * double(us.size())))]; };
    if (records) {
        for (int slave : slaves)
            ::close(slave);
    }
    std::printf("%d port(s), %s%s%s: %zu answers, latency us p50 %.0f p99 %.0f p99.9 %.0f max %.0f; wall %.2f s\n", ports,
                threads ? "thread-per-port" : "one-loop", recorded ? ", " : "", recordMode, us.size(), pct(50), pct(99), pct(99.9), us.empty() ? 0.0 : us.back(),
                wall);
    return 0;
}
