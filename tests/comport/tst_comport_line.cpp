// comport against a pseudo-terminal that the test drives itself: answers that break off or never
// end, the settings and how they reach an open port, ports that cannot be had, and the port
// settings dialog.
#include "extlibs/comport/comport.h"
#include "sim/pty_master.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// The far end of a line: a pseudo-terminal master the test reads and writes.
class FarEnd {
public:
    const std::string &path() const { return m_pty.path(); }
    void send(const std::string &bytes) const { QVERIFY(::write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size())); }
    // What the port sent, once it is there.
    std::string take(std::size_t count) const
    {
        std::string got;
        while (got.size() < count) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    speed_t speed() const
    {
        termios tio{};
        tcgetattr(m_master, &tio);
        return cfgetospeed(&tio);
    }

private:
    sim::PtyMaster m_pty;
    const int m_master = m_pty.fd();
};

struct Config {
    std::string port;
    uint16_t baud = 0, t1 = 0, t2 = 0, t3 = 0;
};

Config configOf(uint32_t handle)
{
    char buffer[COMPORT_TEXT_SIZE] = "COM1";
    char *text = buffer;
    Config c;
    GetCOMCfg(handle, &text, &c.baud, &c.t1, &c.t2, &c.t3);
    c.port = buffer;
    return c;
}

std::string receive(uint32_t handle, bool &ok)
{
    char buffer[COMPORT_TEXT_SIZE];
    std::fill(std::begin(buffer), std::end(buffer), 'q');
    char *text = buffer;
    ok = ReciveCOMPOneByte(handle, &text);
    return buffer;
}

} // namespace

class TestComportLine : public QObject {
    Q_OBJECT

private slots:
    void defaultsAndSettings()
    {
        const uint32_t port = CreateCOM(0);
        const Config fresh = configOf(port);
        QCOMPARE(fresh.port, std::string("COM1"));
        QCOMPARE(fresh.baud, uint16_t(9600));
        QCOMPARE(fresh.t1, uint16_t(100));
        QCOMPARE(fresh.t2, uint16_t(10));
        QCOMPARE(fresh.t3, uint16_t(1000));

        QVERIFY(SetCOMCfg(port, "ttyUSB3", 4800, 11, 22, 33));
        const Config set = configOf(port);
        QCOMPARE(set.port, std::string("ttyUSB3"));
        QCOMPARE(set.baud, uint16_t(4800));
        QCOMPARE(set.t1, uint16_t(11));
        QCOMPARE(set.t2, uint16_t(22));
        QCOMPARE(set.t3, uint16_t(33));
        // Refused settings come back as they were given, and leave no port to open.
        QVERIFY(!SetCOMCfg(port, "ttyUSB3", 1234, 1, 2, 3));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_ARGUMENT);
        QCOMPARE(configOf(port).baud, uint16_t(1234));
        QCOMPARE(configOf(port).t2, uint16_t(2));
        QVERIFY(!SetCOMCfg(port, "", 9600, 1, 2, 3));
        QVERIFY(!SetCOMCfg(port, "../etc/passwd", 9600, 1, 2, 3));
        QCOMPARE(configOf(port).port, std::string("../etc/passwd"));
        QVERIFY(!SetCOMCfg(port, std::string(COMPORT_TEXT_SIZE, 'x').c_str(), 9600, 1, 2, 3));
        QVERIFY(!SetCOMCfg(port, nullptr, 9600, 1, 2, 3));
        // Another handle is another object; an unknown one fails everywhere.
        QCOMPARE(configOf(CreateCOM(0)).port, std::string("COM1"));
        QVERIFY(!SetCOMCfg(0xFFFFFF, "COM1", 9600, 1, 2, 3));
        QVERIFY(!OpenCOM(0xFFFFFF));
        QCOMPARE(GetCOMLastError(0xFFFFFF), COMPORT_ERR_HANDLE);
        QCOMPARE(QString(GetCOMErrorText(COMPORT_ERR_GAP)), QString("The answer broke off"));
        QCOMPARE(QString(GetCOMErrorText(-77)), QString("Unknown error -77"));
    }

    void portsThatCannotBeHad()
    {
        const uint32_t port = CreateCOM(0);
        QVERIFY(SetCOMCfg(port, "/dev/no-such-tty", 9600, 100, 10, 100));
        QVERIFY(!OpenCOM(port));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_UNKNOWN_PORT);
        QVERIFY(!TransmitCOMPOneByte(port, "x\r"));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_UNKNOWN_PORT);

        FarEnd line;
        const uint32_t first = CreateCOM(0), second = CreateCOM(0);
        QVERIFY(SetCOMCfg(first, line.path().c_str(), 9600, 100, 10, 100));
        QVERIFY(SetCOMCfg(second, line.path().c_str(), 9600, 100, 10, 100));
        QVERIFY(OpenCOM(first));
        QVERIFY(!OpenCOM(second));
        QCOMPARE(GetCOMLastError(second), COMPORT_ERR_PORT_BUSY);
        QVERIFY(CloseCOM(first));
        QVERIFY(OpenCOM(second));
        CloseCOM(second);
        CloseCOM(port);
    }

    // The request goes out as given; the baud rate of an open port changes at once; answers
    // that break off or overflow fail, and a receive without a request fails at once.
    void answersThatDoNotEndWell()
    {
        FarEnd line;
        const uint32_t port = CreateCOM(0);
        QVERIFY(SetCOMCfg(port, line.path().c_str(), 19200, 100, 30, 2000));
        QVERIFY(OpenCOM(port));
        QCOMPARE(line.speed(), speed_t(B19200));
        QVERIFY(SetCOMCfg(port, line.path().c_str(), 2400, 100, 30, 2000));
        QCOMPARE(line.speed(), speed_t(B2400));

        bool ok = true;
        QCOMPARE(receive(port, ok), std::string());
        QVERIFY(!ok);
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_NO_REQUEST);

        QVERIFY(TransmitCOMPOneByte(port, "#req-1\r"));
        QCOMPARE(line.take(7), std::string("#req-1\r"));
        line.send("!part");
        QCOMPARE(receive(port, ok), std::string());
        QVERIFY(!ok);
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_GAP);

        // What is left of a broken answer is dropped with the next request.
        line.send("rest\r");
        QVERIFY(TransmitCOMPOneByte(port, "#req-2\r"));
        line.send("!whole\r\n");
        QCOMPARE(receive(port, ok), std::string("!whole"));
        QVERIFY(ok);

        QVERIFY(TransmitCOMPOneByte(port, "#req-3\r"));
        line.send(std::string(COMPORT_TEXT_SIZE + 10, 'y'));
        QCOMPARE(receive(port, ok), std::string());
        QVERIFY(!ok);
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_OVERFLOW);

        // The longest answer that fits.
        QVERIFY(TransmitCOMPOneByte(port, "#req-4\r"));
        line.send(std::string(COMPORT_TEXT_SIZE - 1, 'z') + "\r");
        QCOMPARE(receive(port, ok), std::string(COMPORT_TEXT_SIZE - 1, 'z'));
        QVERIFY(ok);
        CloseCOM(port);
    }

    // A refused setting after a good one: the port that was set before is not opened, and
    // requests go nowhere until a setting is taken again.
    void refusedSettingLeavesNoPort()
    {
        FarEnd line;
        const uint32_t port = CreateCOM(0);
        QVERIFY(SetCOMCfg(port, line.path().c_str(), 9600, 100, 10, 100));
        QVERIFY(OpenCOM(port));
        for (const uint16_t baud : {uint16_t(1234), uint16_t(65531)}) {
            QVERIFY(!SetCOMCfg(port, line.path().c_str(), baud, 100, 10, 100));
            QVERIFY(!TransmitCOMPOneByte(port, "$1M1\r"));
            QCOMPARE(GetCOMLastError(port), COMPORT_ERR_ARGUMENT);
        }
        QVERIFY(CloseCOM(port));
        QVERIFY(!OpenCOM(port));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_ARGUMENT);
        QVERIFY(!SetCOMCfg(port, "", 9600, 100, 10, 100));
        QVERIFY(!OpenCOM(port));
        QVERIFY(SetCOMCfg(port, line.path().c_str(), 9600, 100, 10, 100));
        QVERIFY(!SetCOMCfg(port, nullptr, 9600, 100, 10, 100));
        QVERIFY(!OpenCOM(port));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_ARGUMENT);

        // Taken again: the port opens and carries the request.
        QVERIFY(SetCOMCfg(port, line.path().c_str(), 9600, 100, 10, 100));
        QVERIFY(TransmitCOMPOneByte(port, "$1M1\r"));
        QCOMPARE(line.take(5), std::string("$1M1\r"));
        QVERIFY(CloseCOM(port));
    }

    // Every standard rate up to 57600 is taken and reaches the line.
    void everyStandardRate()
    {
        FarEnd line;
        const uint32_t port = CreateCOM(0);
        const std::vector<int> expected{300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600};
        std::vector<int> rates;
        for (const uint16_t *rate = GetCOMBaudRates(); *rate != 0; ++rate)
            rates.push_back(*rate);
        QCOMPARE(rates, expected);
        const speed_t speeds[] = {B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600};
        for (std::size_t i = 0; i < rates.size(); ++i) {
            QVERIFY2(SetCOMCfg(port, line.path().c_str(), uint16_t(rates[i]), 100, 10, 100),
                     qPrintable(QString::number(rates[i])));
            QVERIFY(OpenCOM(port));
            QCOMPARE(line.speed(), speeds[i]);
            QVERIFY(CloseCOM(port));
        }
        QVERIFY(!SetCOMCfg(port, line.path().c_str(), 14400, 100, 10, 100));
    }

    void settingsDialog()
    {
        const uint32_t port = CreateCOM(0);
        QVERIFY(SetCOMCfg(port, "COM2", 9600, 100, 10, 1000));
        auto drive = [&](const std::function<void(QDialog *)> &act) {
            QTimer::singleShot(0, [&, act] {
                QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
                act(qobject_cast<QDialog *>(QApplication::activeModalWidget()));
            });
        };
        uint8_t changed = 7;
        drive([&](QDialog *dialog) {
            QCOMPARE(dialog->findChild<QComboBox *>("PortBox")->currentText(), QString("COM2"));
            QCOMPARE(dialog->findChild<QSpinBox *>("TimeOut3Box")->value(), 1000);
            dialog->findChild<QComboBox *>("PortBox")->setCurrentText("/dev/ttyUSB1");
            dialog->findChild<QComboBox *>("BaudBox")->setCurrentText("19200");
            dialog->findChild<QSpinBox *>("TimeOut1Box")->setValue(150);
            dialog->findChild<QSpinBox *>("TimeOut2Box")->setValue(25);
            dialog->findChild<QSpinBox *>("TimeOut3Box")->setValue(750);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        QVERIFY(ShowCOMWin(port, -1, -1, &changed));
        QCOMPARE(changed, uint8_t(1));
        const Config c = configOf(port);
        QCOMPARE(c.port, std::string("/dev/ttyUSB1"));
        QCOMPARE(c.baud, uint16_t(19200));
        QCOMPARE(c.t1, uint16_t(150));
        QCOMPARE(c.t2, uint16_t(25));
        QCOMPARE(c.t3, uint16_t(750));

        // OK without a change, and Cancel after one, change nothing.
        drive([](QDialog *dialog) { dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click(); });
        QVERIFY(ShowCOMWin(port, 10, 10, &changed));
        QCOMPARE(changed, uint8_t(0));
        drive([](QDialog *dialog) {
            dialog->findChild<QSpinBox *>("TimeOut2Box")->setValue(99);
            dialog->reject();
        });
        QVERIFY(ShowCOMWin(port, -1, -1, &changed));
        QCOMPARE(changed, uint8_t(0));
        QCOMPARE(configOf(port).t2, uint16_t(25));
    }
};

QTEST_MAIN(TestComportLine)
#include "tst_comport_line.moc"
