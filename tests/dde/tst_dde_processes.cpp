// The DDE layer across processes, through the ddeclient tool.
#include "dde_test_support.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

#include <sys/resource.h>

using namespace platform;

namespace {

QString tool()
{
    return QCoreApplication::applicationDirPath() + "/ddeclient";
}

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result runTool(const QStringList &args)
{
    QProcess process;
    process.start(tool(), args);
    Result result;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A process of the tool that runs until the test ends it.
struct Running {
    explicit Running(const QStringList &args)
    {
        process.start(tool(), args);
        process.waitForStarted(10000);
    }
    ~Running()
    {
        process.kill();
        process.waitForFinished(10000);
    }
    QStringList lines()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        QStringList all = out.split('\n');
        all.removeLast();  // the unfinished rest
        return all;
    }
    QProcess process;
    QString out;
};

bool serving(const QString &service, const QString &topic)
{
    DdeClient probe;
    return probe.connectWithin(service, topic, 10000);
}

} // namespace

class TestDdeProcesses : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
        QVERIFY(QFile::exists(tool()));
    }

    void toolServesAndUses()
    {
        Running server({"serve", "procs", "T", "A=1", "B=x y"});
        QVERIFY(serving("procs", "T"));

        Result got = runTool({"request", "--wait", "5000", "procs", "T", "B"});
        QCOMPARE(got.exitCode, 0);
        QCOMPARE(got.out, QString("x y\n"));

        got = runTool({"poke", "procs", "T", "B", "новое значение"});
        QCOMPARE(got.exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(server.lines().contains("B=новое значение"), 10000);

        got = runTool({"request", "procs", "T", "Z"});
        QCOMPARE(got.exitCode, 1);
        QVERIFY(got.err.contains("No item"));
        got = runTool({"serve", "PROCS", "T"});
        QCOMPARE(got.exitCode, 1);
        QVERIFY(got.err.contains("already served"));

        // Every value written to the server's input reaches the advise process, in order.
        Running advise({"advise", "procs", "T", "A"});
        QTRY_COMPARE_WITH_TIMEOUT(advise.lines(), QStringList{"1"}, 10000);
        QStringList expected{"1"};
        QByteArray input;
        for (int n = 0; n < 300; ++n) {
            input += "A=" + QByteArray::number(n) + "\n";
            expected.append(QString::number(n));
        }
        server.process.write(input);
        QTRY_COMPARE_WITH_TIMEOUT(advise.lines().size(), expected.size(), 10000);
        QCOMPARE(advise.lines(), expected);
    }

    // Ctrl-C while the tool waits for a server that does not answer ends the tool, with the
    // reason, long before its time-out.
    void toolStopsWhileWaitingForAnswer()
    {
        QLocalServer mute;  // takes the conversation and never answers
        QVERIFY(mute.listen(ddeSocketPath("mute")));
        QProcess tool;
        tool.start(::tool(), {"request", "mute", "T", "A"});
        QVERIFY(tool.waitForStarted(10000));
        // The HELLO line shows that the tool is past setting up its signal handling.
        QVERIFY(mute.waitForNewConnection(10000));
        QLocalSocket *conversation = mute.nextPendingConnection();
        QVERIFY(conversation);
        QTRY_VERIFY_WITH_TIMEOUT(conversation->canReadLine(), 10000);
        QVERIFY(conversation->readLine().startsWith("HELLO "));

        ::kill(pid_t(tool.processId()), SIGINT);
        const bool ended = tool.waitForFinished(20000);
        if (!ended)
            tool.kill();
        QVERIFY(ended);
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY2(tool.readAllStandardError().contains("quitting"), "no reason given");
    }

    void clientKilledMidStream()
    {
        Running server({"serve", "killed", "T", "A=0"});
        QVERIFY(serving("killed", "T"));
        Running victim({"advise", "killed", "T", "A"});
        QTRY_COMPARE_WITH_TIMEOUT(victim.lines(), QStringList{"0"}, 10000);

        DdeClient watcher;
        Recorder recorder(watcher);
        QVERIFY(watcher.connectTo("killed", "T"));
        QVERIFY(watcher.advise("A"));
        for (int n = 1; n <= 2000; ++n) {
            server.process.write("A=" + QByteArray::number(n) + "\n");
            if (n == 1000)
                ::kill(pid_t(victim.process.processId()), SIGKILL);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.changes.isEmpty() && recorder.changes.last().second == "2000", 10000);
        QCOMPARE(server.process.state(), QProcess::Running);
        QCOMPARE(watcher.request("A"), std::optional<QString>("2000"));
    }

    void serverKilledAndRestarted()
    {
        auto first = std::make_unique<Running>(QStringList{"serve", "phoenix", "T", "A=first"});
        QVERIFY(serving("phoenix", "T"));
        DdeClient client;
        QVERIFY(client.connectTo("phoenix", "T"));
        QSignalSpy ended(&client, &DdeClient::disconnected);
        ::kill(pid_t(first->process.processId()), SIGKILL);
        QVERIFY(ended.wait(10000));
        first.reset();
        QVERIFY(QFile::exists(ddeSocketPath("phoenix")));  // left behind by the dead server

        Running second({"serve", "phoenix", "T", "A=second"});
        QVERIFY(client.connectWithin("phoenix", "T", 10000));
        QCOMPARE(client.request("A"), std::optional<QString>("second"));
    }

    // The driver's management link: the controlling program is started when it does not serve yet.
    void programStartedOnDemand()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath("controller.sh");
        const QString pidFile = dir.filePath("pid");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("#!/bin/sh\necho $$ > '%1'\nexec '%2' serve controller MANAGE ITEM=0 </dev/null >/dev/null\n")
                       .arg(pidFile, tool())
                       .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        DdeClient manage;
        Recorder recorder(manage);
        const bool linked = manage.connectToProgram(script, "MANAGE", 10000) && manage.advise("ITEM");
        QFile pid(pidFile);
        if (pid.open(QIODevice::ReadOnly))
            ::kill(pid_t(pid.readAll().trimmed().toInt()), SIGTERM);
        QVERIFY2(linked, qPrintable(manage.errorString()));
        QTRY_COMPARE(recorder.changes.value(0).second, QString("0"));

        DdeClient none;
        QVERIFY(!none.connectToProgram(dir.filePath("missing.exe"), "MANAGE", 500));
        QVERIFY(none.errorString().contains("Cannot start"));
    }

    // A server that runs out of file descriptors (a low "ulimit -n") tells each client it
    // cannot take why (the spare descriptor it frees for that comes back after every refusal),
    // and serves again once descriptors are free: its socket stays.
    void serviceOutlivesDescriptorShortage()
    {
        // UBSan checks a call on a polymorphic object it has not met before through a pipe of
        // its own; without a descriptor for it, it reports a fault that is not there and stops
        // the server. The starved server goes without that check.
        QTemporaryDir dir;
        QFile suppressions(dir.filePath("ubsan.supp"));
        QVERIFY(suppressions.open(QIODevice::WriteOnly));
        suppressions.write("vptr:*\n");
        suppressions.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("UBSAN_OPTIONS",
                           environment.value("UBSAN_OPTIONS") + ":suppressions=" + suppressions.fileName());
        QProcess server;
        server.setProcessEnvironment(environment);
        server.setChildProcessModifier([] {
            const rlimit few{32, 32};
            ::setrlimit(RLIMIT_NOFILE, &few);
        });
        server.start(tool(), {"serve", "fewfds", "T", "I=eleven"});
        QVERIFY(server.waitForStarted(10000));
        QVERIFY(serving("fewfds", "T"));

        std::vector<std::unique_ptr<RawSocket>> raws;
        for (int i = 0; i < 60; ++i)
            raws.push_back(std::make_unique<RawSocket>("fewfds"));
        std::vector<QByteArray> heard(raws.size());
        const auto refusals = [&] {
            int refused = 0;
            for (size_t i = 0; i < raws.size(); ++i) {
                heard[i] += raws[i]->readAvailable();
                refused += heard[i].startsWith("BYE ") && heard[i].contains("out%20of%20file%20descriptors");
            }
            return refused;
        };
        // Far more clients wait than the server can take: not one refusal but one for each
        // shortage while they keep coming.
        QTRY_VERIFY_WITH_TIMEOUT(refusals() >= 3, 10000);
        raws.clear();

        DdeClient client;
        QVERIFY2(client.connectWithin("fewfds", "T", 10000), qPrintable(client.errorString()));
        QCOMPARE(client.request("I"), std::optional<QString>("eleven"));
        QCOMPARE(server.state(), QProcess::Running);
        server.kill();
        server.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestDdeProcesses)
#include "tst_dde_processes.moc"
