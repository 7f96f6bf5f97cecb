// Replies the real instrument never gives, from a scripted line: how TDevice reads them and how a
// reply that is not a number reaches the caller.
#include "setup/instrument/device_u.h"

#include "extlibs/ex_com/ex_com.h"
#include "scripted_line.h"

#include <QtTest>

#include <mutex>
#include <memory>

using TAnswer = TScriptedLine::TAnswer;

class TestDeviceReplies : public QObject {
    Q_OBJECT

    // The reply text of every request; the request numbered failAt is refused.
    std::mutex scriptMutex;
    std::string replyText;
    int failAt = -1;
    void Script(std::string text, int fail = -1)
    {
        std::lock_guard lock(scriptMutex);
        replyText = std::move(text);
        failAt = fail;
    }
    std::unique_ptr<TScriptedLine> line;
    std::unique_ptr<TDevice> device;

private slots:
    void init()
    {
        Script("0");
        line = std::make_unique<TScriptedLine>([this](const excom::Frame &, int index) {
            std::lock_guard lock(scriptMutex);
            if (index == failAt)
                return TAnswer{TAnswer::Refuse, "3"};
            return TAnswer{TAnswer::Reply, replyText};
        });
        QVERIFY(line->IsValid());
        device = std::make_unique<TDevice>();
        QCOMPARE(device->OpenPort(QStringLiteral("19200"), line->PortPath()), 0);
    }
    void cleanup()
    {
        device.reset();
        line.reset();
    }

    void bytesReadAsSent_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("value");
        QTest::newRow("255") << QByteArray("255") << 255;
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("leading zero") << QByteArray("007") << 7;
    }
    void bytesReadAsSent()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, value);
        Script(reply.toStdString());
        std::uint8_t eeprom = 0, ram = 0;
        QCOMPARE(device->ReadEEPROMByte(eeprom), 0);
        QCOMPARE(device->ReadRAMByte(ram), 0);
        QCOMPARE(int(eeprom), value);
        QCOMPARE(int(ram), value);
        const auto requests = line->Requests();
        QCOMPARE(requests.size(), 2u);
        QCOMPARE(requests[0].command, 3);
        QCOMPARE(requests[1].command, 6);
    }

    // A reply that is not a number, or a number that no byte holds, is a failed read with a
    // conversion error of its kind: never the low eight bits of what came.
    void replyThatIsNoByteThrows_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        const QString notInteger = QStringLiteral("\"%1\" не является целым числом");
        const QString notByte = QStringLiteral("Число \"%1\" не является байтом (допустимо от 0 до 255)");
        QTest::newRow("letters") << QByteArray("abc") << int(TConvertError::Integer) << notInteger;
        QTest::newRow("empty") << QByteArray("") << int(TConvertError::Integer) << notInteger;
        QTest::newRow("trailing") << QByteArray("12x") << int(TConvertError::Integer) << notInteger;
        QTest::newRow("decimal") << QByteArray("1.5") << int(TConvertError::Integer) << notInteger;
        QTest::newRow("256") << QByteArray("256") << int(TConvertError::ByteRange) << notByte;
        QTest::newRow("300") << QByteArray("300") << int(TConvertError::ByteRange) << notByte;
        QTest::newRow("-1") << QByteArray("-1") << int(TConvertError::ByteRange) << notByte;
        QTest::newRow("99999") << QByteArray("99999") << int(TConvertError::ByteRange) << notByte;
    }
    void replyThatIsNoByteThrows()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, kind);
        QFETCH(QString, message);
        Script(reply.toStdString());
        for (const bool ram : {false, true}) {
            std::uint8_t value = 0xEE;
            try {
                ram ? device->ReadRAMByte(value) : device->ReadEEPROMByte(value);
                QFAIL("no conversion error");
            } catch (const TConvertError &e) {
                QCOMPARE(int(e.Kind()), kind);
                QCOMPARE(e.Text(), QString::fromLatin1(reply));
                QCOMPARE(e.Message(), message.arg(QString::fromLatin1(reply)));
            }
            QCOMPARE(value, 0);
            QCOMPARE(device->LastError, 0);  // the exchange itself went well
        }
        // The composite reads end the same way.
        std::uint16_t crc = 1;
        QVERIFY_THROWS_EXCEPTION(TConvertError, device->ReadCRC(2, crc));
        float f = 1;
        QVERIFY_THROWS_EXCEPTION(TConvertError, device->ReadRAMFloat(0, f));
    }

    void ramFloatFailingOnItsThirdByte()
    {
        // Address, byte 0, byte 1, then byte 2 refused: nothing more is sent.
        Script("64", 3);
        float value = 1;
        QCOMPARE(device->ReadRAMFloat(1, value), EX_ERR_REFUSED);
        QCOMPARE(value, 0.0f);
        QCOMPARE(device->LastError, EX_ERR_REFUSED);
        const auto requests = line->Requests();
        QCOMPARE(requests.size(), 4u);
        QCOMPARE(requests[0].command, 5);
        QCOMPARE(requests[0].text, "5");
    }
};

QTEST_GUILESS_MAIN(TestDeviceReplies)
#include "tst_device_replies.moc"
