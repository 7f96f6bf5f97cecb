// The device search as the program runs it: on a worker, reporting each address to the
// application window, stopped from the window thread or from any other thread.
#include "excom_helpers.h"
#include "platform/messages.h"
#include "sim/instrument_sim.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace excomtest;
using platform::ApplicationWindow;
using platform::Message;

namespace {

constexpr int kDeadlineMs = 20000;

struct Report {
    uintptr_t position;
    intptr_t address;
    bool operator==(const Report &) const = default;
};

// Runs EX_SearchAvailableDevices on a thread of its own.
class SearchWorker {
public:
    SearchWorker(uint32_t link, uint32_t window, uint8_t first, uint8_t last)
        : m_thread([=, this] {
              std::vector<char> buffer(EX_SEARCH_TEXT_SIZE, 0);
              char *text = buffer.data();
              m_result = EX_SearchAvailableDevices(link, 1, window, EX_DEVICE_TYPE, first, last, &text);
              m_text = buffer.data();
              m_done.store(true);
          })
    {}
    ~SearchWorker() { m_thread.join(); }
    bool done() const { return m_done.load(); }
    int result() const { return m_result; }
    std::string text() const { return m_text; }

private:
    std::atomic<bool> m_done{false};
    int m_result = 1;
    std::string m_text;
    std::thread m_thread;
};

} // namespace

class TestExcomSearch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reportsEveryAddressInOrder();
    void stopFromTheWindowThread();
    void stopFromAnotherThread();
    void stopBeforeTheSearchIsKeptAndCloseDiscardsIt();
    void closingFromTheWindowThreadEndsTheSearch();
    void refusedSearches();

private:
    std::unique_ptr<ApplicationWindow> window;
    std::unique_ptr<sim::InstrumentSim> sim;
    std::unique_ptr<LinkHandle> link;
    int hook = 0;
    std::vector<Report> reports;   // touched on the window thread only
    std::function<void()> onReport;
};

void TestExcomSearch::initTestCase()
{
    window = std::make_unique<ApplicationWindow>();
    const platform::UINT message = platform::RegisterWindowMessage("SX_SearchAvailableDevices");
    hook = window->addHook([this, message](Message &m) {
        if (m.msg != message)
            return false;
        reports.push_back({m.wParam, m.lParam});
        if (onReport)
            onReport();
        return true;
    });
}

void TestExcomSearch::init()
{
    reports.clear();
    onReport = nullptr;
    sim = std::make_unique<sim::InstrumentSim>(std::vector<uint8_t>{2, 4});
    QVERIFY(sim->isValid());
    sim->addInstrument(3);
    sim->modify(3, [](sim::InstrumentModel &m) { m.deviceType = 7; });   // answers, but is another kind
    link = std::make_unique<LinkHandle>();
    QCOMPARE(EX_SetBaudRate(*link, 19200), EX_OK);
    QCOMPARE(EX_OpenCOM(*link, sim->portPath().c_str()), EX_OK);
}

void TestExcomSearch::cleanup()
{
    link.reset();
    sim.reset();
}

void TestExcomSearch::reportsEveryAddressInOrder()
{
    SearchWorker worker(*link, window->handle(), 1, 5);
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    QCOMPARE(worker.result(), EX_OK);
    const std::vector<Report> expected{{1, 65535}, {2, 2}, {3, 65535}, {4, 4}, {5, 65535}};
    QCOMPARE(reports, expected);
    QCOMPARE(worker.text(), std::string("2;4"));
    // Each address was asked to identify itself, once, in order (the simulator may be woken to
    // read the last, which nothing answers, after the search has ended).
    QVERIFY(sim->waitForLog(5, std::chrono::milliseconds(kDeadlineMs)));
    const auto log = sim->log();
    QCOMPARE(log.size(), size_t(5));
    for (size_t i = 0; i < log.size(); ++i)
        QCOMPARE(log[i], (sim::CommandRecord{9, uint8_t(i + 1), 0, ""}));
}

void TestExcomSearch::stopFromTheWindowThread()
{
    const uint32_t handle = *link;
    onReport = [&] {
        if (reports.size() == 3)
            EX_StopSearchAvailableDevices(handle);
    };
    SearchWorker worker(*link, window->handle(), 0, 255);
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    QCOMPARE(worker.result(), EX_OK);
    QCOMPARE(reports.size(), size_t(3));
    QCOMPARE(worker.text(), std::string("2"));
}

void TestExcomSearch::stopFromAnotherThread()
{
    sim->removeInstrument(2);
    sim->removeInstrument(3);
    sim->removeInstrument(4);   // a silent line: every address waits its whole time-out
    SearchWorker worker(*link, window->handle(), 0, 255);
    const uint32_t handle = *link;
    std::thread stopper([&] {
        if (sim->waitForLog(2, std::chrono::milliseconds(kDeadlineMs)))
            EX_StopSearchAvailableDevices(handle);
    });
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    stopper.join();
    QCOMPARE(worker.result(), EX_OK);
    QVERIFY(reports.size() < 256);
    QVERIFY(sim->log().size() < 256);
}

void TestExcomSearch::stopBeforeTheSearchIsKeptAndCloseDiscardsIt()
{
    QCOMPARE(EX_StopSearchAvailableDevices(*link), EX_OK);
    {
        SearchWorker worker(*link, window->handle(), 0, 5);
        QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
        QCOMPARE(worker.result(), EX_OK);
    }
    QVERIFY(reports.empty());

    QCOMPARE(EX_StopSearchAvailableDevices(*link), EX_OK);
    QCOMPARE(EX_CloseCOM(*link), EX_OK);
    QCOMPARE(EX_OpenCOM(*link, sim->portPath().c_str()), EX_OK);
    SearchWorker worker(*link, window->handle(), 2, 2);
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    QCOMPARE(reports, (std::vector<Report>{{2, 2}}));
}

void TestExcomSearch::closingFromTheWindowThreadEndsTheSearch()
{
    const uint32_t handle = *link;
    onReport = [&] {
        if (reports.size() == 2)
            EX_CloseCOM(handle);
    };
    SearchWorker worker(*link, window->handle(), 0, 255);
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    QCOMPARE(worker.result(), EX_ERR_NOT_OPEN);
    QCOMPARE(reports.size(), size_t(2));
}

void TestExcomSearch::refusedSearches()
{
    char buffer[EX_SEARCH_TEXT_SIZE];
    char *text = buffer;
    QCOMPARE(EX_SearchAvailableDevices(*link, 1, window->handle(), 9, 11, 10, &text), EX_ERR_ARGUMENT);
    QCOMPARE(EX_CloseCOM(*link), EX_OK);
    QCOMPARE(EX_SearchAvailableDevices(*link, 1, window->handle(), 9, 0, 1, &text), EX_ERR_NOT_OPEN);
    QCOMPARE(EX_SearchAvailableDevices(0, 1, window->handle(), 9, 0, 1, &text), EX_ERR_HANDLE);
    QCOMPARE(EX_StopSearchAvailableDevices(0), EX_ERR_HANDLE);
    QVERIFY(reports.empty());

    // The line failing under a running search ends it with that failure.
    QCOMPARE(EX_OpenCOM(*link, sim->portPath().c_str()), EX_OK);
    sim->injectFault(sim::Fault::CloseLine);
    SearchWorker worker(*link, window->handle(), 0, 255);
    QTRY_VERIFY_WITH_TIMEOUT(worker.done(), kDeadlineMs);
    QCOMPARE(worker.result(), EX_ERR_IO);
}

QTEST_GUILESS_MAIN(TestExcomSearch)
#include "tst_excom_search.moc"
