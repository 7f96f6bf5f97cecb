// Server and clients of the DDE layer in one process.
#include "dde_test_support.h"

#include "platform/dde_server.h"
#include "platform/runtime_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QMutex>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

using namespace platform;

class TestDdeConversation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
    }

    void requestAndPoke()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("ORVANT");
        DdeItem *value = topic->createItem("VALUE", "23.5");
        DdeItem *command = topic->createItem("CMD", "0");
        command->setAcceptsPokes(true);
        topic->createItem("S1", "Ошибка!");
        QVERIFY2(server.listen("tagpump"), qPrintable(server.errorString()));

        DdeClient client;
        QVERIFY2(client.connectTo("TagPump", "orvant"), qPrintable(client.errorString()));
        QCOMPARE(client.request("value"), std::optional<QString>("23.5"));
        QCOMPARE(client.request("S1"), std::optional<QString>("Ошибка!"));
        QVERIFY(!client.request("S2"));
        QVERIFY(client.errorString().contains("S2"));

        QVERIFY(!client.poke("VALUE", "99"));
        QVERIFY(client.errorString().contains("does not accept pokes"));
        QCOMPARE(value->text(), QString("23.5"));

        QSignalSpy poked(command, &DdeItem::poked);
        QVERIFY(client.poke("CMD", "1 and more"));
        QCOMPARE(command->text(), QString("1 and more"));
        QCOMPARE(poked.size(), 1);
        QVERIFY(!client.poke("CMD", QString(20000, 'x')));
        QCOMPARE(command->text(), QString("1 and more"));
        QVERIFY(client.isConnected());

        DdeClient stranger;
        QVERIFY(!stranger.connectTo("tagpump", "NOSUCH"));
        QVERIFY(stranger.errorString().contains("NOSUCH"));
        QVERIFY(!stranger.connectTo("notrunning", "ORVANT"));
        QVERIFY(stranger.errorString().contains("not running"));
    }

    // Changes made while the client keeps up arrive all and in order; a client on another thread.
    void hotLinksSeeEveryChangeInOrder()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        DdeItem *a = topic->createItem("A", "a0");
        DdeItem *b = topic->createItem("B", "b0");
        DdeItem *unlinked = topic->createItem("C", "c0");
        QVERIFY(server.listen("order"));

        QThread thread;
        auto *client = new DdeClient;
        client->moveToThread(&thread);
        QList<QPair<QString, QString>> seen;
        QMutex mutex;
        connect(client, &DdeClient::itemChanged, client, [&](const QString &item, const QString &text) {
            QMutexLocker lock(&mutex);
            seen.append({item, text});
        });
        connect(&thread, &QThread::finished, client, &QObject::deleteLater);
        std::atomic<int> linked = -1;
        connect(&thread, &QThread::started, client, [&] {
            linked = client->connectTo("order", "T") && client->advise("A") && client->advise("b");
        });
        thread.start();
        auto stop = qScopeGuard([&] {
            thread.quit();
            thread.wait();
        });
        QTRY_VERIFY(linked >= 0);
        QVERIFY(linked == 1);

        auto seenCount = [&] {
            QMutexLocker lock(&mutex);
            return seen.size();
        };
        QList<QPair<QString, QString>> expected{{"A", "a0"}, {"b", "b0"}};
        for (int batch = 0; batch < 30; ++batch) {
            for (int i = 0; i < 100; ++i) {
                const int n = batch * 100 + i;
                DdeItem *item = n % 3 == 0 ? b : a;
                item->setText(QString::number(n));
                unlinked->setText(QString::number(n));
                expected.append({n % 3 == 0 ? "b" : "A", QString::number(n)});
            }
            QTRY_COMPARE_WITH_TIMEOUT(seenCount(), expected.size(), 10000);
        }
        QCOMPARE(seen, expected);
    }

    // A client that stops reading holds nobody up and, once it reads, gets each item's newest text.
    void stalledClientGetsNewestValues()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        QList<DdeItem *> items;
        for (int i = 0; i < 10; ++i)
            items.append(topic->createItem(QString("I%1").arg(i), "start"));
        QVERIFY(server.listen("stall"));

        RawSocket stalled("stall");
        QVERIFY(stalled.connected());
        QByteArray hello = "HELLO 1 T\n";
        for (int i = 0; i < 10; ++i)
            hello += QByteArray("ADV ") + QByteArray::number(i + 2) + " I" + QByteArray::number(i) + "\n";
        QVERIFY(stalled.send(hello));
        QTRY_COMPARE(server.conversationCount(), 1);

        DdeClient live;
        Recorder recorder(live);
        QVERIFY(live.connectTo("stall", "T"));
        QVERIFY(live.advise("I3"));
        const int sets = 50000;
        auto text = [](int n) { return QString::number(n).rightJustified(8, '0'); };
        for (int n = 1; n <= sets; ++n) {
            items[n % 10]->setText(text(n));
            if (n % 1000 == 0)
                QTRY_COMPARE_WITH_TIMEOUT(recorder.changes.size(), 1 + n / 10, 10000);
        }
        QCOMPARE(recorder.changes.last().second, text(sets - 7));

        // Now the stalled client reads: per item the values rise and end with the newest one.
        QMap<QByteArray, QByteArray> last;
        int lines = 0;
        bool rising = true;
        QByteArray buffer;
        auto allNewest = [&] {
            for (int i = 0; i < 10; ++i)
                if (last.value("I" + QByteArray::number(i)) != text(sets - (sets - i) % 10).toLatin1())
                    return false;
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            buffer += stalled.readAvailable();
            qsizetype eol;
            while ((eol = buffer.indexOf('\n')) >= 0) {
                const QList<QByteArray> fields = buffer.left(eol).split(' ');
                buffer.remove(0, eol + 1);
                if (fields[0] != "UPD")
                    continue;
                ++lines;
                QByteArray &previous = last[fields[1]];
                rising = rising && (previous.isEmpty() || previous == "start" || fields[2] > previous);
                previous = fields[2];
            }
            return allNewest();
        }()), 10000);
        QVERIFY(rising);
        QVERIFY2(lines < sets, "a client that fell behind gets coalesced values");
    }

    void itemsRenamedAndRemoved()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        DdeItem *s1 = topic->createItem("S1", "10");
        topic->createItem("S2", "20");
        QVERIFY(server.listen("rename"));
        DdeClient client;
        Recorder recorder(client);
        QVERIFY(client.connectTo("rename", "T"));
        QVERIFY(client.advise("S1"));
        QVERIFY(client.advise("X1"));
        QTRY_COMPARE(recorder.changes.size(), 1);

        QVERIFY(!s1->setName("s2"));
        QVERIFY(s1->setName("X1"));
        QTRY_COMPARE(recorder.changes.size(), 2);
        QCOMPARE(recorder.gone, QStringList{"S1"});
        QCOMPARE(recorder.changes.last(), qMakePair(QString("X1"), QString("10")));
        QVERIFY(!client.request("S1"));

        DdeItem *again = topic->createItem("S1", "11");
        QTRY_COMPARE(recorder.changes.size(), 3);
        QCOMPARE(recorder.changes.last(), qMakePair(QString("S1"), QString("11")));
        delete again;
        delete s1;
        QTRY_COMPARE(recorder.gone, (QStringList{"S1", "S1", "X1"}));
        QVERIFY(!client.request("X1"));
        QCOMPARE(client.request("S2"), std::optional<QString>("20"));
    }

    void linkBeforeItemExists()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        QVERIFY(server.listen("early"));
        DdeClient client;
        Recorder recorder(client);
        QVERIFY(client.connectTo("early", "T"));
        QVERIFY(client.advise("S5"));
        QVERIFY(!client.advise(""));
        topic->createItem("S5", "0")->setText("1");
        QTRY_COMPARE(recorder.changes.size(), 2);
        QCOMPARE(recorder.changes[0], qMakePair(QString("S5"), QString("0")));
        QCOMPARE(recorder.changes[1], qMakePair(QString("S5"), QString("1")));
    }

    void topicRenamedAndRemoved()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("ORVANT");
        DdeItem *item = topic->createItem("VALUE", "1");
        server.createTopic("OTHER");
        QVERIFY(server.listen("topics"));
        DdeClient old;
        Recorder recorder(old);
        QVERIFY(old.connectTo("topics", "ORVANT"));
        QVERIFY(old.advise("VALUE"));

        QVERIFY(!topic->setName("other"));
        QVERIFY(topic->setName("NEWNAME"));
        QCOMPARE(server.topic("newname"), topic);
        item->setText("2");
        QTRY_COMPARE(recorder.changes.size(), 2);
        DdeClient late;
        QVERIFY(!late.connectTo("topics", "ORVANT"));
        QVERIFY(late.connectTo("topics", "NEWNAME"));
        QCOMPARE(late.request("VALUE"), std::optional<QString>("2"));

        // Its own name in other letters: still found under any spelling, still linked.
        QVERIFY2(topic->setName("NewName"), qPrintable(server.errorString()));
        QCOMPARE(topic->name(), QString("NewName"));
        QCOMPARE(server.topic("NEWNAME"), topic);
        item->setText("3");
        QTRY_COMPARE(recorder.changes.size(), 3);
        DdeClient third;
        QVERIFY(third.connectTo("topics", "newname"));
        QCOMPARE(third.request("VALUE"), std::optional<QString>("3"));

        QSignalSpy ended(&old, &DdeClient::disconnected);
        delete topic;
        QVERIFY(ended.wait(5000));
        QVERIFY(ended.first().first().toString().contains("NewName"));
        QVERIFY(!old.isConnected());
    }

    void serverRestarts()
    {
        auto server = std::make_unique<DdeServer>();
        server->createTopic("T")->createItem("I", "first");
        QVERIFY(server->listen("restart"));
        DdeServer second;
        QVERIFY(!second.listen("RESTART"));
        QVERIFY(second.errorString().contains("already served"));

        DdeClient client;
        QVERIFY(client.connectTo("restart", "T"));
        QSignalSpy ended(&client, &DdeClient::disconnected);
        server.reset();
        QVERIFY(ended.wait(5000));
        QVERIFY(!client.request("I"));

        // The client waits for the service to come back.
        QTimer::singleShot(200, this, [&] {
            server = std::make_unique<DdeServer>();
            server->createTopic("T")->createItem("I", "second");
            server->listen("restart");
        });
        QVERIFY2(client.connectWithin("restart", "T", 10000), qPrintable(client.errorString()));
        QCOMPARE(client.request("I"), std::optional<QString>("second"));
    }

    void staleSocketIsReplaced()
    {
        // A socket file that nobody listens on, as a crashed server leaves it.
        const QByteArray path = QFile::encodeName(ddeSocketPath("stale"));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));

        DdeServer server;
        server.createTopic("T");
        QVERIFY2(server.listen("stale"), qPrintable(server.errorString()));
        DdeClient client;
        QVERIFY(client.connectTo("stale", "T"));
    }

    // Garbage or an endless line ends that client only.
    void badClientsAreDropped()
    {
        DdeServer server;
        DdeItem *item = server.createTopic("T")->createItem("I", "0");
        QVERIFY(server.listen("garbage"));
        DdeClient good;
        Recorder recorder(good);
        QVERIFY(good.connectTo("garbage", "T"));
        QVERIFY(good.advise("I"));

        for (const QByteArray &bad : {QByteArray("garbage\n"), QByteArray("REQ 1 I\n"), QByteArray("HELLO 1 T\nUPD I x\n"),
                                      QByteArray("HELLO 1 T\nREQ 0 I\n"), QByteArray("HELLO 1 T\nREQ 2 %zz\n")}) {
            RawSocket raw("garbage");
            QVERIFY(raw.send(bad));
            bool eof = false;
            QByteArray answer;
            QTRY_VERIFY_WITH_TIMEOUT((answer += raw.readAvailable(&eof), eof), 5000);
            QVERIFY2(answer.contains("BYE "), answer.constData());
        }

        // 10 MB without a line end, written from another thread while the server runs.
        RawSocket flood("garbage");
        QTRY_COMPARE(server.conversationCount(), 2);
        std::atomic<bool> refused = false;
        QThread *writer = QThread::create([&] { refused = !flood.send(QByteArray(10 * 1024 * 1024, 'x')); });
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(server.conversationCount() == 1, 10000);
        QVERIFY(writer->wait(10000));
        delete writer;
        QVERIFY(refused);

        item->setText("still here");
        QTRY_COMPARE(recorder.changes.last().second, QString("still here"));
    }

    // Asking the program to quit makes every event loop return at once and refuse to run again,
    // so a waiting call can no longer count on a timer to end it: it must give up, not spin.
    void callsEndWhenTheProgramQuits()
    {
        QLocalServer mute;  // takes the connection and never answers
        QVERIFY(mute.listen(ddeSocketPath("mute")));
        DdeClient client;
        client.setTimeout(60000);
        // QCoreApplication::exec() clears the quit, so that the tests after this one have their
        // event loops back.
        const auto restore = qScopeGuard([] {
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
            QCoreApplication::exec();
        });
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!client.connectTo("mute", "T"));
        QVERIFY2(elapsed.elapsed() < 30000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY2(client.errorString().contains("quitting"), qPrintable(client.errorString()));
        QVERIFY(!client.connectWithin("mute", "T", 60000));
        QVERIFY2(elapsed.elapsed() < 30000, qPrintable(QString::number(elapsed.elapsed())));
    }

    void socketAndFolderArePrivate()
    {
        DdeServer server;
        QVERIFY(server.listen("private"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(ddeSocketPath("private")).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(runtimeDir()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        server.close();
        QVERIFY(!QFile::exists(ddeSocketPath("private")));
    }

    void serviceNamesFromProgramPaths()
    {
        QCOMPARE(ddeServiceName("C:\\Drv\\tagpump.exe"), QString("tagpump"));
        QCOMPARE(ddeServiceName("/opt/ctl/ctl.v2.bin"), QString("ctl.v2"));
        QCOMPARE(ddeServiceName("/opt/ctl/my.ctl.exe"), QString("my.ctl"));  // only the last extension goes
        QCOMPARE(ddeServiceName("/opt/ctl.d/ctl"), QString("ctl"));
        QCOMPARE(ddeServiceName("ctl"), QString("ctl"));
        QCOMPARE(ddeProgramToStart("/no/such/ctl.exe"), QString("/no/such/ctl.exe"));
    }
};

QTEST_GUILESS_MAIN(TestDdeConversation)
#include "tst_dde_conversation.moc"
