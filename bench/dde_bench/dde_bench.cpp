// Throughput and latency of the DDE layer: 1000 items on one topic, 10 clients on their own
// threads with a hot link on every item. Each item's text is the time it was set, so that a
// client knows how long a change took to reach it.
//
// Phases, each measured over a few seconds:
//   saturated    items set as fast as the server takes them (a batch per event-loop turn);
//                gives the item sets delivered per second to each client
//   paced        items set at the target rate of 50,000 a second; gives the latency from set to
//                delivery (median and 99th percentile) at that load
// Both again with one client stalled (its thread blocked, so it reads nothing). The last line
// is "ratio N.NN": the slowest live client's saturated throughput with a client stalled,
// divided by the slowest client's without (medians of three alternate rounds).
#include "platform/dde_client.h"
#include "platform/dde_server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace platform;

namespace {

constexpr int kItems = 1000;
constexpr int kClients = 10;
constexpr int kTargetRate = 50000;
constexpr int kPhaseMs = 3000;
constexpr int kBatch = 100;                   // sets per event-loop turn when saturating
constexpr std::int64_t kBucketNs = 1000;      // latency histogram: 1 us buckets
constexpr std::size_t kBuckets = 100000;      // up to 100 ms, the last bucket takes the rest

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Figures {
    double perSecond = 0;
    std::vector<std::uint64_t> histogram = std::vector<std::uint64_t>(kBuckets);
};

class Client : public QObject {
public:
    Client()
    {
        connect(&client_, &DdeClient::itemChanged, this, [this](const QString &, const QString &text) {
            const std::int64_t latency = nowNs() - text.toLongLong();
            ++count_;
            ++histogram_[std::min<std::size_t>(std::size_t(std::max<std::int64_t>(latency, 0) / kBucketNs), kBuckets - 1)];
        });
    }
    bool link()
    {
        if (!client_.connectTo("dde_bench", "BENCH"))
            return false;
        for (int i = 0; i < kItems; ++i)
            if (!client_.advise(QString("I%1").arg(i)))
                return false;
        return true;
    }
    void reset()
    {
        count_ = 0;
        std::fill(histogram_.begin(), histogram_.end(), 0);
        start_ = nowNs();
    }
    Figures take() const
    {
        Figures f;
        f.perSecond = double(count_) * 1e9 / double(nowNs() - start_);
        f.histogram = histogram_;
        return f;
    }

private:
    DdeClient client_{this};  // a child, so that it moves to the thread with us
    std::uint64_t count_ = 0;
    std::int64_t start_ = 0;
    std::vector<std::uint64_t> histogram_ = std::vector<std::uint64_t>(kBuckets);
};

double percentileMs(const std::vector<std::uint64_t> &histogram, double fraction)
{
    std::uint64_t total = 0;
    for (auto n : histogram)
        total += n;
    const auto wanted = std::uint64_t(double(total) * fraction);
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < histogram.size(); ++i) {
        seen += histogram[i];
        if (seen > wanted)
            return double(i + 1) * double(kBucketNs) / 1e6;
    }
    return double(histogram.size()) * double(kBucketNs) / 1e6;
}

class Bench {
public:
    Bench()
    {
        DdeTopic *topic = server_.createTopic("BENCH");
        for (int i = 0; i < kItems; ++i)
            items_.push_back(topic->createItem(QString("I%1").arg(i), "0"));
    }
    ~Bench()
    {
        for (auto &thread : threads_) {
            thread->quit();
            thread->wait();
        }
    }

    bool start()
    {
        if (!server_.listen("dde_bench")) {
            std::fprintf(stderr, "dde_bench: %s\n", qPrintable(server_.errorString()));
            return false;
        }
        std::atomic<int> linked = 0, failed = 0;
        for (int i = 0; i < kClients; ++i) {
            auto thread = std::make_unique<QThread>();
            auto *client = new Client;
            client->moveToThread(thread.get());
            QObject::connect(thread.get(), &QThread::finished, client, &QObject::deleteLater);
            thread->start();
            QMetaObject::invokeMethod(client, [client, &linked, &failed] { ++(client->link() ? linked : failed); });
            clients_.push_back(client);
            threads_.push_back(std::move(thread));
        }
        runFor(30000, [&] { return linked + failed == kClients; });
        return linked == kClients;
    }

    // Sets items for kPhaseMs, as fast as possible or at the target rate; the figures of every
    // client that is not stalled.
    std::vector<Figures> phase(bool paced, int stalled)
    {
        for (int i = 0; i < kClients; ++i)
            if (i != stalled)
                QMetaObject::invokeMethod(clients_[i], [c = clients_[i]] { c->reset(); }, Qt::BlockingQueuedConnection);
        const std::int64_t begin = nowNs();
        std::int64_t done = 0;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            std::int64_t due = kBatch;
            if (paced)
                due = (nowNs() - begin) * kTargetRate / 1000000000 - done;
            for (std::int64_t n = 0; n < due; ++n)
                set();
            done += due;
        });
        timer.start(paced ? 1 : 0);
        runFor(kPhaseMs, [] { return false; });
        timer.stop();
        std::vector<Figures> figures;
        for (int i = 0; i < kClients; ++i)
            if (i != stalled)
                QMetaObject::invokeMethod(clients_[i], [&figures, c = clients_[i]] { figures.push_back(c->take()); },
                                          Qt::BlockingQueuedConnection);
        settle();
        return figures;
    }

    // Blocks the client's thread until release().
    void stall(int index)
    {
        QMetaObject::invokeMethod(clients_[index], [this] { gate_.acquire(); });
    }
    void release() { gate_.release(); }

private:
    void set()
    {
        items_[next_]->setText(QString::number(nowNs()));
        next_ = (next_ + 1) % kItems;
    }
    // Lets the clients drain what is queued, so that one phase does not leak into the next.
    void settle() { runFor(300, [] { return false; }); }

    template <typename Done>
    void runFor(int ms, Done done)
    {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        check.start(5);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    DdeServer server_;
    std::vector<DdeItem *> items_;
    std::vector<Client *> clients_;
    std::vector<std::unique_ptr<QThread>> threads_;
    QSemaphore gate_;
    int next_ = 0;
};

double slowest(const std::vector<Figures> &figures)
{
    double low = 1e18;
    for (const auto &f : figures)
        low = std::min(low, f.perSecond);
    return low;
}

void report(const char *what, const std::vector<Figures> &figures)
{
    double sum = 0;
    std::vector<std::uint64_t> all(kBuckets);
    for (const auto &f : figures) {
        sum += f.perSecond;
        for (std::size_t i = 0; i < kBuckets; ++i)
            all[i] += f.histogram[i];
    }
    std::printf("%-34s delivered per client: slowest %9.0f/s, mean %9.0f/s; latency p50 %.3f ms, p99 %.3f ms\n",
                what, slowest(figures), sum / double(figures.size()), percentileMs(all, 0.5), percentileMs(all, 0.99));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    Bench bench;
    if (!bench.start()) {
        std::fprintf(stderr, "dde_bench: the clients could not link\n");
        return 1;
    }
    std::printf("dde_bench: %d items on one topic, %d hot-linked clients, target %d sets/s, p99 < 2 ms\n", kItems,
                kClients, kTargetRate);
    bench.phase(false, -1);  // warm-up
    const auto saturated = bench.phase(false, -1);
    report("saturated", saturated);
    report("paced at 50000 sets/s", bench.phase(true, -1));

    bench.stall(0);
    const auto stalledSaturated = bench.phase(false, 0);
    report("one stalled, saturated", stalledSaturated);
    report("one stalled, paced at 50000 sets/s", bench.phase(true, 0));
    bench.release();

    // The slowest of ten busy clients swings with the scheduler from one phase to the next: the
    // ratio takes the median of three rounds of each kind, measured alternately.
    std::vector<double> free{slowest(saturated)}, stalled{slowest(stalledSaturated)};
    for (int round = 1; round < 3; ++round) {
        free.push_back(slowest(bench.phase(false, -1)));
        bench.stall(0);
        stalled.push_back(slowest(bench.phase(false, 0)));
        bench.release();
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("slowest live client, saturated, median of 3: %.0f/s free, %.0f/s with one stalled\n",
                median(free), median(stalled));
    std::printf("ratio %.2f\n", median(stalled) / median(free));
    return 0;
}
