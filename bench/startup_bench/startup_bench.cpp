// How soon the setup program shows its window, against a bare Qt main window (bare_window): the
// time from starting the program as a process to the X server's mapping its first top-level
// window, as a user sees it. The bench starts an Xvfb server of its own, watches the root window
// for MapNotify, and starts the programs in turn (alternating, so that a busy spell of the machine
// falls on all), each in a fresh home and configuration, ending each one once its window is up:
// the setup program, the bare window, and the bare window with one line of text, which shows
// what drawing any text at all costs (the fonts) before the setup program's own work. The setup program runs as a copy in the bench's own folder: it keeps its settings beside
// itself, and the build's copy has whatever the demo or a user left there (a last project to
// reopen or none), which would change what is measured; the copy starts with no settings, as on
// first use, and what it saves on its way out stays in the bench's folder. Figures: the median
// and quartiles of each program over the rounds, of the time to the window and of the processor
// time the program (all its threads) had had by then: on a busy machine the first stretches,
// the second still shows what the program itself did.
// Last lines: the setup program's median over the text window's, and "ratio N.NN", over the
// bare window's (goal: within 1.3).
//   startup_bench [rounds]   (21 by default)
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kMapDeadlineMs = 10000;

struct XServer {
    QProcess process;
    QByteArray display;
};

// Starts Xvfb on a free display, which it names on its standard output.
bool startXServer(XServer &server)
{
    server.process.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                  QStringLiteral("-screen"), QStringLiteral("0"),
                                                  QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                                  QStringLiteral("tcp")});
    if (!server.process.waitForStarted())
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!server.process.canReadLine() && clock.elapsed() < kMapDeadlineMs)
        server.process.waitForReadyRead(100);
    const QByteArray number = server.process.readLine().trimmed();
    if (number.isEmpty())
        return false;
    server.display = ':' + number;
    return true;
}

class MapWatch {
public:
    explicit MapWatch(const QByteArray &display) : m_connection(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_void_cookie_t cookie =
            xcb_change_window_attributes_checked(m_connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        std::free(xcb_request_check(m_connection, cookie));
        m_ok = true;
    }
    ~MapWatch() { xcb_disconnect(m_connection); }
    bool ok() const { return m_ok; }

    // Drops the events of earlier rounds.
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // Waits for a top-level window to be mapped; false at the deadline.
    bool waitForMap(int deadlineMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                std::free(event);
                if (mapped)
                    return true;
            }
            const qint64 left = deadlineMs - clock.elapsed();
            if (left <= 0 || xcb_connection_has_error(m_connection))
                return false;
            pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&fd, 1, int(left));
        }
    }

private:
    xcb_connection_t *m_connection;
    bool m_ok = false;
};

// The processor time that all threads of a process have had so far, in ms (the scheduler's own
// nanosecond count): what the program did, whatever else the machine was doing.
double processorMs(qint64 pid)
{
    double ns = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            ns += stat.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e6;
}

struct Start {
    double ms = -1;        // start to window mapped; negative when the window did not come
    double processorMs = 0; // the program's processor time by then
};

// One start: the time from starting the program to its window's mapping.
Start timeToWindow(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                   const QString &folder, MapWatch &watch)
{
    watch.drain();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool mapped = watch.waitForMap(kMapDeadlineMs);
    const double ms = clock.nsecsElapsed() / 1e6;
    const double processor = processorMs(process.processId());
    // Ended as a logout ends it: the program's own orderly way out.
    process.terminate();
    if (!process.waitForFinished(kMapDeadlineMs)) {
        process.kill();
        process.waitForFinished();
    }
    return mapped ? Start{ms, processor} : Start{};
}

// The program copied into folder, with links to what it finds beside itself (its libraries and
// resources); the copy's path, or empty on failure.
QString privateCopy(const QString &program, const QString &folder)
{
    const QFileInfo original(program);
    if (!QDir().mkpath(folder))
        return QString();
    const QString copy = QDir(folder).filePath(original.fileName());
    if (!QFile::copy(program, copy))
        return QString();
    const QDir source = original.absoluteDir();
    for (const QFileInfo &entry : source.entryInfoList({QStringLiteral("*.so"), QStringLiteral("Resources")}))
        QFile::link(entry.absoluteFilePath(), QDir(folder).filePath(entry.fileName()));
    return copy;
}

double quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    XServer server;
    if (!startXServer(server)) {
        std::fprintf(stderr, "startup_bench: Xvfb did not start\n");
        return 1;
    }
    int result = 0;
    {
        MapWatch watch(server.display);
        QTemporaryDir home;
        if (!watch.ok() || !home.isValid()) {
            std::fprintf(stderr, "startup_bench: no connection to Xvfb on %s\n", server.display.constData());
            return 1;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(server.display));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        QDir(home.path()).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));

        const QString setupProgram = privateCopy(QStringLiteral(SETUP_PROGRAM), home.filePath(QStringLiteral("setup")));
        if (setupProgram.isEmpty()) {
            std::fprintf(stderr, "startup_bench: cannot copy %s\n", SETUP_PROGRAM);
            return 1;
        }

        struct Subject {
            const char *name;
            QString program;
            QStringList arguments;
            std::vector<double> ms;
            std::vector<double> processorMs;
        };
        Subject subjects[] = {{"vks74xx", setupProgram, {}, {}, {}},
                              {"bare window", QStringLiteral(BARE_WINDOW), {}, {}, {}},
                              {"text window", QStringLiteral(BARE_WINDOW), {QStringLiteral("Нет открытого проекта")}, {}, {}}};
        // One unmeasured start each: the libraries into the page cache.
        for (Subject &subject : subjects)
            timeToWindow(subject.program, subject.arguments, environment, home.path(), watch);
        for (int round = 0; round < rounds && result == 0; ++round) {
            for (Subject &subject : subjects) {
                const Start start = timeToWindow(subject.program, subject.arguments, environment, home.path(), watch);
                if (start.ms < 0) {
                    std::fprintf(stderr, "startup_bench: %s showed no window within %d ms\n", subject.name,
                                 kMapDeadlineMs);
                    result = 1;
                    break;
                }
                subject.ms.push_back(start.ms);
                subject.processorMs.push_back(start.processorMs);
            }
        }
        if (result == 0) {
            std::printf("start to window mapped, %d rounds alternating (ms: first quartile, median, third quartile)\n",
                        rounds);
            for (const Subject &subject : subjects)
                std::printf("  %-12s %7.1f %7.1f %7.1f\n", subject.name, quantile(subject.ms, 0.25),
                            quantile(subject.ms, 0.5), quantile(subject.ms, 0.75));
            std::printf("processor time by then (ms: first quartile, median, third quartile)\n");
            for (const Subject &subject : subjects)
                std::printf("  %-12s %7.1f %7.1f %7.1f\n", subject.name, quantile(subject.processorMs, 0.25),
                            quantile(subject.processorMs, 0.5), quantile(subject.processorMs, 0.75));
            std::printf("processor time ratio %.2f\n",
                        quantile(subjects[0].processorMs, 0.5) / quantile(subjects[1].processorMs, 0.5));
            std::printf("ratio against the text window %.2f (the text window against the bare one %.2f)\n",
                        quantile(subjects[0].ms, 0.5) / quantile(subjects[2].ms, 0.5),
                        quantile(subjects[2].ms, 0.5) / quantile(subjects[1].ms, 0.5));
            std::printf("ratio %.2f\n", quantile(subjects[0].ms, 0.5) / quantile(subjects[1].ms, 0.5));
        }
    }
    server.process.terminate();
    server.process.waitForFinished();
    return result;
}
