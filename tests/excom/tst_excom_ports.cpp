// Port names and the port list: "COMn" and paths, the list with the pseudo-terminals of
// EX_COM_EXTRA_PORTS at its head, its splitting into items, and the texts of the result codes.
#include "excom_helpers.h"
#include "extlibs/comport/comport.h"
#include "extlibs/ex_com/serial_port.h"
#include "sim/pty_master.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace excomtest;

namespace {

// A pseudo-terminal kept open for the test's length.
struct Pty {
    sim::PtyMaster pty;
    const std::string path = pty.path();
};

QStringList portList(int *result = nullptr)
{
    LinkHandle link;
    std::vector<char> buffer(EX_PORT_LIST_SIZE, 'x');
    char *text = buffer.data();
    const int rc = EX_SearchAvailableCOMPorts(link, 0, 0, &text);
    if (result)
        *result = rc;
    QStringList items;
    EX_ExtractAvailableCOMPorts(text, &items, [](void *list, const char *item) {
        static_cast<QStringList *>(list)->append(QString::fromUtf8(item));
    });
    return items;
}

} // namespace

class TestExcomPorts : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { unsetenv("EX_COM_EXTRA_PORTS"); }

    void portNames();
    void comNamesThatNameNoPort();
    void extraPortsLeadTheList();
    void listIsStable();
    void listOfExactlyTheBufferAndOneMore();
    void extractSplitsAtSemicolons();
    void resultTexts();
    void refusedAccessNamesDeviceAndGroup();
    void refusalTextOfExactlyTheBufferAndOneMore();
};

void TestExcomPorts::portNames()
{
    QCOMPARE(excom::portPath("COM1"), std::string("/dev/ttyS0"));
    QCOMPARE(excom::portPath("com12"), std::string("/dev/ttyS11"));
    QCOMPARE(excom::portPath("/dev/serial/by-id/usb-FTDI-if00-port0"), std::string("/dev/serial/by-id/usb-FTDI-if00-port0"));
    QCOMPARE(excom::portPath("/dev/pts/3"), std::string("/dev/pts/3"));
    QCOMPARE(excom::portPath("ttyUSB0"), std::string("/dev/ttyUSB0"));
    QCOMPARE(excom::portPath("../etc/passwd"), std::string());
    QCOMPARE(excom::portPath(""), std::string());
}

void TestExcomPorts::comNamesThatNameNoPort()
{
    LinkHandle link;
    QCOMPARE(EX_OpenCOM(link, "COM250"), EX_ERR_UNKNOWN_PORT);
    QCOMPARE(EX_OpenCOM(link, "COM"), EX_ERR_UNKNOWN_PORT);
    QCOMPARE(EX_OpenCOM(link, ""), EX_ERR_UNKNOWN_PORT);
}

void TestExcomPorts::extraPortsLeadTheList()
{
    Pty first, second;
    QVERIFY(!first.path.empty() && !second.path.empty());
    const std::string env = second.path + ":/dev/no-such-port::" + first.path;
    setenv("EX_COM_EXTRA_PORTS", env.c_str(), 1);
    int rc = 1;
    const QStringList items = portList(&rc);
    QCOMPARE(rc, EX_OK);
    QVERIFY(items.size() >= 2);
    QCOMPARE(items[0], QString::fromStdString(second.path));
    QCOMPARE(items[1], QString::fromStdString(first.path));
    QVERIFY(!items.contains("/dev/no-such-port"));

    // The listed name opens as it stands.
    LinkHandle link;
    QCOMPARE(EX_OpenCOM(link, items[0].toUtf8().constData()), EX_OK);
}

void TestExcomPorts::listIsStable()
{
    Pty pty;
    setenv("EX_COM_EXTRA_PORTS", pty.path.c_str(), 1);
    const QStringList once = portList();
    QCOMPARE(portList(), once);
    // On-board ports come as COMn in their numeric order.
    QStringList com;
    for (const QString &item : once)
        if (item.startsWith("COM"))
            com.append(item);
    QStringList sorted = com;
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) { return a.mid(3).toInt() < b.mid(3).toInt(); });
    QCOMPARE(com, sorted);
}

// Names that fill the list buffer exactly (terminator included) are all listed; one character
// more leaves the last name out whole. Nothing is written past the buffer.
void TestExcomPorts::listOfExactlyTheBufferAndOneMore()
{
    Pty pty;
    QTemporaryDir dir;
    QVERIFY(!pty.path.empty() && dir.isValid());
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/" + std::string(200, 'd');
    QCOMPARE(::mkdir(folder.c_str(), 0700), 0);
    // A link to the pseudo-terminal whose path is `length` characters long.
    const auto linkOfLength = [&](int index, std::size_t length) {
        std::string path = folder + "/" + std::to_string(index) + "-";
        path += std::string(length - path.size(), 'x');
        return ::symlink(pty.path.c_str(), path.c_str()) == 0 ? path : std::string();
    };
    for (const std::size_t extra : {std::size_t(0), std::size_t(1)}) {
        std::vector<std::string> names;
        for (int i = 0; i < 6; ++i)
            names.push_back(linkOfLength(int(extra) * 10 + i, 250));
        const std::size_t used = 6 * 250 + 5;   // with the separators
        names.push_back(linkOfLength(int(extra) * 10 + 6, EX_PORT_LIST_SIZE - 1 - used - 1 + extra));
        std::string env;
        for (const auto &name : names) {
            QVERIFY(!name.empty());
            env += (env.empty() ? "" : ":") + name;
        }
        setenv("EX_COM_EXTRA_PORTS", env.c_str(), 1);

        LinkHandle link;
        std::vector<char> buffer(EX_PORT_LIST_SIZE + 16, '#');
        char *text = buffer.data();
        QCOMPARE(EX_SearchAvailableCOMPorts(link, 0, 0, &text), EX_OK);
        QVERIFY(std::all_of(buffer.begin() + EX_PORT_LIST_SIZE, buffer.end(), [](char c) { return c == '#'; }));
        const std::string list(buffer.data(), strnlen(buffer.data(), EX_PORT_LIST_SIZE));
        QVERIFY(list.size() < EX_PORT_LIST_SIZE);
        QStringList items;
        EX_ExtractAvailableCOMPorts(list.c_str(), &items, [](void *out, const char *item) {
            static_cast<QStringList *>(out)->append(QString::fromUtf8(item));
        });
        for (int i = 0; i < 6; ++i)
            QCOMPARE(items.value(i), QString::fromStdString(names[size_t(i)]));
        if (extra == 0) {
            QCOMPARE(list.size(), std::size_t(EX_PORT_LIST_SIZE - 1));
            QCOMPARE(items.value(6), QString::fromStdString(names[6]));
        } else {
            QVERIFY(!items.contains(QString::fromStdString(names[6])));
            for (const QString &item : items)   // what else the machine lists comes whole
                QVERIFY2(item.startsWith("COM") || QFile::exists(item), qPrintable(item));
        }
    }
}

void TestExcomPorts::extractSplitsAtSemicolons()
{
    QStringList items;
    const auto add = [](void *list, const char *item) { static_cast<QStringList *>(list)->append(item); };
    QCOMPARE(EX_ExtractAvailableCOMPorts("COM1;;/dev/pts/4;COM3;", &items, add), EX_OK);
    QCOMPARE(items, QStringList({"COM1", "/dev/pts/4", "COM3"}));
    items.clear();
    QCOMPARE(EX_ExtractAvailableCOMPorts("", &items, add), EX_ERR_NO_PORTS);
    QVERIFY(items.isEmpty());
    QCOMPARE(EX_ExtractAvailableCOMPorts(nullptr, &items, add), EX_ERR_ARGUMENT);
}

void TestExcomPorts::resultTexts()
{
    const int codes[] = {EX_ERR_NO_ANSWER, EX_ERR_FRAME, EX_ERR_CRC, EX_ERR_ADDRESS, EX_ERR_DEVICE_TYPE,
                         EX_ERR_NOT_OPEN, EX_ERR_UNKNOWN_PORT, EX_ERR_PORT_BUSY, EX_ERR_ARGUMENT,
                         EX_ERR_REFUSED, EX_ERR_HANDLE, EX_ERR_IO, EX_ERR_OPEN, EX_ERR_KIND,
                         EX_ERR_NO_PORTS, EX_ERR_ACCESS, EX_WRITE_UNCHANGED};
    QSet<QString> texts;
    for (const int code : codes) {
        int rc = 1;
        const QString text = errorText(code, EX_DEVICE_TYPE, &rc);
        QCOMPARE(rc, EX_OK);
        QVERIFY2(text.contains(QRegularExpression("[а-яА-Я]")), qPrintable(text));
        texts.insert(text);
        QCOMPARE(errorText(code, 0), text);   // the lookup-failure kind reads the same table
    }
    QCOMPARE(texts.size(), int(std::size(codes)));

    int rc = 1;
    const QString unknown = errorText(-777, EX_DEVICE_TYPE, &rc);
    QCOMPARE(rc, EX_OK);
    QVERIFY(unknown.contains("-777"));

    const QString kind = errorText(EX_ERR_NO_ANSWER, 3, &rc);
    QCOMPARE(rc, EX_ERR_KIND);
    QCOMPARE(kind, errorText(EX_ERR_KIND));

    // A text never writes past the 255-byte buffer.
    char buffer[EX_TEXT_SIZE + 8];
    std::memset(buffer, '#', sizeof buffer);
    char *text = buffer;
    EX_GetExendedErrorInfo(EX_DEVICE_TYPE, EX_WRITE_UNCHANGED, &text);
    QCOMPARE(buffer[EX_TEXT_SIZE], '#');
}

// Opens the port through the library and gives back its code and the code's text.
QPair<int, QString> openAndExplain(const std::string &path)
{
    LinkHandle link;
    const int rc = EX_OpenCOM(link, path.c_str());
    return {rc, errorText(rc)};
}

// The driver's library on the same serial layer: its code and text for the same open.
QPair<int, QString> openWithComport(const std::string &path)
{
    const uint32_t port = CreateCOM(0);
    SetCOMCfg(port, path.c_str(), 9600, 100, 10, 1000);
    OpenCOM(port);
    const int rc = GetCOMLastError(port);
    const QString text = QString::fromUtf8(GetCOMErrorText(rc));
    CloseCOM(port);
    return {rc, text};
}

// Runs work as a user whom a device of mode 660 or 600 owned by root (or, for another user, of
// mode 0) refuses: as root, in a child that has become "nobody" (empty when root cannot become
// nobody here); else in place.
QByteArray runAsRefusedUser(const std::function<QByteArray()> &work)
{
    if (geteuid() != 0)
        return work();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        QByteArray out;
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            out = work();
        (void)!::write(pipeFds[1], out.constData(), size_t(out.size()));
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    QByteArray answer;
    char chunk[512];
    for (ssize_t n; child > 0 && (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
        answer.append(chunk, n);
    ::close(pipeFds[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return answer;
}

void TestExcomPorts::refusedAccessNamesDeviceAndGroup()
{
    Pty pty;
    QVERIFY(!pty.path.empty());
    QPair<int, QString> result, driverResult;
    QString groupName;
    if (geteuid() == 0) {
        // Root opens anything: the device goes to a group other than "dialout", mode 660, and a
        // child that has become "nobody" tries to open it.
        const struct group *chosen = nullptr;
        for (const char *name : {"tty", "audio", "users"})
            if ((chosen = getgrnam(name)))
                break;
        if (!chosen)
            QSKIP("no group tty, audio or users to give the device to");
        groupName = QString::fromUtf8(chosen->gr_name);
        QCOMPARE(::chown(pty.path.c_str(), 0, chosen->gr_gid), 0);
        QCOMPARE(::chmod(pty.path.c_str(), 0660), 0);
        const QByteArray answer = runAsRefusedUser([&] {
            const auto [rc, text] = openAndExplain(pty.path);
            const auto [driverRc, driverText] = openWithComport(pty.path);
            return QByteArray::number(rc) + '\n' + QByteArray::number(driverRc) + '\n' + driverText.toUtf8() + '\n'
                   + text.toUtf8();
        });
        if (answer.isEmpty())
            QSKIP("root here cannot become the user nobody (setuid refused, as in some containers)");
        const QList<QByteArray> lines = answer.split('\n');
        QVERIFY(lines.size() >= 4);
        result = {lines[0].toInt(), QString::fromUtf8(lines.mid(3).join('\n'))};
        driverResult = {lines[1].toInt(), QString::fromUtf8(lines[2])};
    } else {
        // The device's owner may not open it either once its mode gives nobody access.
        struct stat st {};
        QCOMPARE(::stat(pty.path.c_str(), &st), 0);
        const struct group *owner = getgrgid(st.st_gid);
        groupName = owner ? QString::fromUtf8(owner->gr_name) : QString::number(st.st_gid);
        QCOMPARE(::chmod(pty.path.c_str(), 0), 0);
        result = openAndExplain(pty.path);
        driverResult = openWithComport(pty.path);
    }
    QCOMPARE(result.first, EX_ERR_ACCESS);
    QVERIFY2(result.second.contains(QString::fromStdString(pty.path)), qPrintable(result.second));
    QVERIFY2(result.second.contains(QStringLiteral("запрещён")), qPrintable(result.second));
    QVERIFY2(result.second.contains(QStringLiteral("группы ") + groupName), qPrintable(result.second));
    QVERIFY(!result.second.contains(QStringLiteral("dialout")) || groupName == QStringLiteral("dialout"));
    // The driver's library says the same.
    QCOMPARE(driverResult.first, COMPORT_ERR_ACCESS);
    QCOMPARE(driverResult.second, result.second);
}

// The text of a refused open names the device's path, so it can be as long as the caller's
// buffer or longer: a text of exactly the buffer's size (terminator included) comes whole, one
// byte more is cut at the buffer's end, and nothing is written past the buffer.
void TestExcomPorts::refusalTextOfExactlyTheBufferAndOneMore()
{
    Pty pty;
    QTemporaryDir dir;
    QVERIFY(!pty.path.empty() && dir.isValid());
    // Nobody but the owner may open the device; the owner neither, when not root.
    QCOMPARE(::chmod(pty.path.c_str(), geteuid() == 0 ? 0600 : 0), 0);
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);   // for the links of "nobody"
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    const QByteArray answer = runAsRefusedUser([&] {
        QByteArray out;
        // The text for the device's own path, and for a link to it `extra` bytes longer.
        const auto refusal = [](const std::string &path, char *buffer, std::size_t size) {
            std::memset(buffer, '#', size);
            LinkHandle link;
            char *text = buffer;
            return EX_OpenCOM(link, path.c_str()) == EX_ERR_ACCESS
                && EX_GetExendedErrorInfo(EX_DEVICE_TYPE, EX_ERR_ACCESS, &text) == EX_OK;
        };
        char buffer[EX_TEXT_SIZE + 16];
        if (!refusal(pty.path, buffer, sizeof buffer))
            return QByteArray("no refusal");
        const std::string shortText(buffer);
        for (const std::size_t over : {std::size_t(0), std::size_t(1)}) {
            // A text of EX_TEXT_SIZE - 1 + over bytes.
            const std::size_t pathSize = EX_TEXT_SIZE - 1 + over - (shortText.size() - pty.path.size());
            std::string path = folder + "/" + std::to_string(over) + "-";
            path += std::string(pathSize - path.size(), 'x');
            std::string expected = shortText;
            expected.replace(expected.find(pty.path), pty.path.size(), path);
            if (::symlink(pty.path.c_str(), path.c_str()) != 0 || !refusal(path, buffer, sizeof buffer))
                return QByteArray("no refusal through the link");
            const bool outside = std::all_of(buffer + EX_TEXT_SIZE, buffer + sizeof buffer, [](char c) { return c == '#'; });
            out += QByteArray::number(qulonglong(expected.size())) + ' ' + (outside ? "kept" : "OVERWRITTEN") + ' '
                   + (std::string(buffer, strnlen(buffer, EX_TEXT_SIZE)) == expected.substr(0, EX_TEXT_SIZE - 1)
                          ? "cut right" : "WRONG TEXT: " + QByteArray(buffer, int(strnlen(buffer, EX_TEXT_SIZE))))
                   + '\n';
        }
        return out;
    });
    if (answer.isEmpty())
        QSKIP("root here cannot become the user nobody (setuid refused, as in some containers)");
    QCOMPARE(QString::fromUtf8(answer), QStringLiteral("254 kept cut right\n255 kept cut right\n"));
}

QTEST_GUILESS_MAIN(TestExcomPorts)
#include "tst_excom_ports.moc"
