// The DDE layer against peers that take too much: too many conversations, too many hot links, a
// connection that never says HELLO, a client that never reads while its item comes and goes,
// and a server that floods its client with lines the client has no use for.
#include "dde_test_support.h"

#include "platform/dde_server.h"

#include <QTest>

#include <malloc.h>
#include <memory>
#include <thread>

using namespace platform;

namespace {

// Lines received so far on a raw socket, split at LF; the unfinished rest stays in `rest`.
struct LineReader {
    explicit LineReader(RawSocket &s) : socket(s) {}
    // Reads what is there; true when the peer has closed.
    bool poll()
    {
        bool eof = false;
        rest += socket.readAvailable(&eof);
        qsizetype eol;
        while ((eol = rest.indexOf('\n')) >= 0) {
            lines.append(rest.left(eol));
            rest.remove(0, eol + 1);
        }
        return eof;
    }
    RawSocket &socket;
    QList<QByteArray> lines;
    QByteArray rest;
};

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// A server on the service's socket that answers HELLO and then, while the client waits for the
// answer to its next call, floods it with lines it has no use for before answering.
class FloodingServer {
public:
    explicit FloodingServer(const QString &service)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = serviceAddress(service);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(fd_, 4) == 0;
        if (ok_)
            thread_ = std::thread([this] { serve(); });
    }
    ~FloodingServer()
    {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    bool ok() const { return ok_; }

private:
    static QByteArray readLine(int fd)
    {
        QByteArray line;
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n')
            line.append(c);
        return line;
    }
    static bool sendAll(int fd, const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    void serve()
    {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0)
            return;
        const QList<QByteArray> hello = readLine(c).split(' ');
        sendAll(c, "OK " + hello.value(1) + "\n");
        const QList<QByteArray> call = readLine(c).split(' ');  // ADV id A
        const quint64 id = call.value(1).toULongLong();
        QByteArray batch;
        auto put = [&](const QByteArray &line) {
            batch += line;
            if (batch.size() > 65536)
                sendAll(c, std::exchange(batch, {}));
        };
        for (int i = 0; i < 300000; ++i)   // changes of names the client has no link on
            put("UPD N" + QByteArray::number(i) + " x\n");
        for (int i = 1; i <= 100000; ++i)  // answers to calls never made
            put("OK " + QByteArray::number(id + quint64(i)) + "\n");
        for (int i = 0; i < 100000; ++i)   // changes of the linked item, while the call waits
            put("UPD A v" + QByteArray::number(i) + "\n");
        put("OK " + QByteArray::number(id) + "\n");
        sendAll(c, batch);
        char sink[256];
        while (::read(c, sink, sizeof sink) > 0) {
        }
        ::close(c);
    }

    int fd_ = -1;
    bool ok_ = false;
    std::thread thread_;
};

} // namespace

class TestDdeLimits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
    }

    void conversationsAndLinksAreCapped()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        topic->createItem("I", "seven");
        QVERIFY(server.listen("capped"));

        std::vector<std::unique_ptr<RawSocket>> raws;
        for (int i = 0; i < DdeServer::kMaxConversations; ++i) {
            raws.push_back(std::make_unique<RawSocket>("capped"));
            QVERIFY(raws.back()->send("HELLO " + QByteArray::number(i + 1) + " T\n"));
            if (i % 64 == 63)  // the connections wait in the listen queue until the server runs
                QTRY_COMPARE_WITH_TIMEOUT(server.conversationCount(), i + 1, 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.conversationCount(), DdeServer::kMaxConversations, 10000);

        RawSocket extra("capped");
        LineReader refused(extra);
        QTRY_VERIFY_WITH_TIMEOUT(refused.poll(), 10000);
        QCOMPARE(refused.lines.size(), 1);
        QVERIFY2(refused.lines[0].startsWith("BYE "), refused.lines[0].constData());
        QCOMPARE(server.conversationCount(), DdeServer::kMaxConversations);

        // Hot links: the one over the cap is refused, the conversation goes on.
        RawSocket &linker = *raws[17];
        QByteArray advs;
        for (int i = 0; i <= DdeServer::kMaxLinks; ++i)
            advs += "ADV " + QByteArray::number(i + 2) + " N" + QByteArray::number(i) + "\n";
        QVERIFY(linker.send(advs));
        LineReader answers(linker);
        QTRY_VERIFY_WITH_TIMEOUT((answers.poll(), answers.lines.size() >= DdeServer::kMaxLinks + 2), 10000);
        QCOMPARE(answers.lines[DdeServer::kMaxLinks], QByteArray("OK ") + QByteArray::number(DdeServer::kMaxLinks + 1));
        QVERIFY2(answers.lines[DdeServer::kMaxLinks + 1].startsWith("ERR " + QByteArray::number(DdeServer::kMaxLinks + 2)),
                 answers.lines[DdeServer::kMaxLinks + 1].constData());
        // A link taken again is no new link; the conversation still answers.
        QVERIFY(linker.send("ADV 9001 n0\nREQ 9002 I\n"));
        QTRY_VERIFY_WITH_TIMEOUT((answers.poll(), answers.lines.size() >= DdeServer::kMaxLinks + 4), 10000);
        QCOMPARE(answers.lines[DdeServer::kMaxLinks + 2], QByteArray("OK 9001"));
        QCOMPARE(answers.lines[DdeServer::kMaxLinks + 3], QByteArray("OK 9002 seven"));

        // Once places are free, a new client is served.
        raws.resize(10);
        QTRY_COMPARE_WITH_TIMEOUT(server.conversationCount(), 10, 10000);
        DdeClient client;
        QVERIFY2(client.connectTo("capped", "T"), qPrintable(client.errorString()));
        QCOMPARE(client.request("I"), std::optional<QString>("seven"));
    }

    void silentConnectionIsDropped()
    {
        DdeServer server;
        server.createTopic("T");
        QVERIFY(server.listen("silent"));
        RawSocket silent(QStringLiteral("silent"));
        LineReader reader(silent);
        QTRY_COMPARE(server.conversationCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(reader.poll(), DdeServer::kHelloTimeoutMs + 10000);
        QCOMPARE(reader.lines.size(), 1);
        QVERIFY2(reader.lines[0].startsWith("BYE "), reader.lines[0].constData());
        QCOMPARE(server.conversationCount(), 0);
    }

    // A client that never reads, while its item is removed and made again over and over: the
    // GONE notices are merged per item like the changes, and in the end it hears the newest state.
    void goneNoticesToAStalledClientAreMerged()
    {
        DdeServer server;
        DdeTopic *topic = server.createTopic("T");
        DdeItem *item = topic->createItem("G", "first");
        QVERIFY(server.listen("gone"));
        RawSocket stalled(QStringLiteral("gone"));
        QVERIFY(stalled.send("HELLO 1 T\nADV 2 G\n"));
        LineReader reader(stalled);
        QTRY_VERIFY((reader.poll(), reader.lines.size() >= 3));  // OK 1, OK 2, UPD G first
        const int cycles = 100000;
        for (int i = 0; i < cycles; ++i) {
            delete item;
            item = topic->createItem("G", QString::number(i));
        }
        item->setText("final");

        QTRY_VERIFY_WITH_TIMEOUT((reader.poll(), !reader.lines.isEmpty() && reader.lines.last() == "UPD G final"), 20000);
        QVERIFY2(reader.lines.size() < cycles / 2, qPrintable(QString::number(reader.lines.size())));
        QCOMPARE(reader.lines.value(2), QByteArray("UPD G first"));
    }

    void hostileServerCannotGrowTheClient()
    {
        FloodingServer hostile("hostile");
        QVERIFY(hostile.ok());
        DdeClient client;
        client.setTimeout(60000);
        Recorder recorder(client);
        const size_t before = heapInUse();
        QVERIFY2(client.connectTo("hostile", "T"), qPrintable(client.errorString()));
        QVERIFY2(client.advise("A"), qPrintable(client.errorString()));
        const size_t grown = heapInUse() > before ? heapInUse() - before : 0;
        QVERIFY2(grown < 8 * 1024 * 1024, qPrintable(QString("the client grew by %1 bytes").arg(grown)));
        // The changes held back during the call still end with the newest text.
        QTRY_VERIFY(!recorder.changes.isEmpty() && recorder.changes.last() == qMakePair(QString("A"), QString("v99999")));
    }
};

QTEST_GUILESS_MAIN(TestDdeLimits)
#include "tst_dde_limits.moc"
