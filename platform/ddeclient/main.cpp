// ddeclient: serves or uses one topic of a DDE service from the command line.
//
//   ddeclient serve SERVICE TOPIC [ITEM=TEXT...]
//       Serves the items, which accept pokes. Every line "ITEM=TEXT" on standard input sets that
//       item (creating it when new); every poke is printed as "ITEM=TEXT". Runs until stopped.
//   ddeclient request [--wait MS] SERVICE TOPIC ITEM     prints the item's text
//   ddeclient advise [--wait MS] SERVICE TOPIC ITEM      prints each new text on its own line
//                                                        until stopped or the server goes
//   ddeclient poke [--wait MS] SERVICE TOPIC ITEM TEXT
//
// --wait MS keeps trying for that long while the service is not up yet. Texts are read and
// printed in UTF-8. Exit status: 0 done, 1 failed (the reason on standard error), 2 bad usage.
#include "platform/dde_client.h"
#include "platform/dde_server.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using platform::DdeClient;
using platform::DdeItem;
using platform::DdeServer;
using platform::DdeTopic;

namespace {

int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so that servers remove their socket on the way out.
void quitOnStopSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { QCoreApplication::exit(0); });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void printLine(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int fail(const QString &text)
{
    std::fprintf(stderr, "ddeclient: %s\n", text.toUtf8().constData());
    return 1;
}

int usage()
{
    std::fputs("usage: ddeclient serve SERVICE TOPIC [ITEM=TEXT...]\n"
               "       ddeclient request [--wait MS] SERVICE TOPIC ITEM\n"
               "       ddeclient advise [--wait MS] SERVICE TOPIC ITEM\n"
               "       ddeclient poke [--wait MS] SERVICE TOPIC ITEM TEXT\n",
               stderr);
    return 2;
}

bool splitAssignment(const QString &text, QString &item, QString &value)
{
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0)
        return false;
    item = text.left(eq);
    value = text.mid(eq + 1);
    return true;
}

DdeItem *setItem(DdeTopic *topic, const QString &name, const QString &text)
{
    DdeItem *item = topic->item(name);
    if (item)
        return item->setText(text) ? item : nullptr;
    item = topic->createItem(name, text);
    if (!item)
        return nullptr;
    item->setAcceptsPokes(true);
    QObject::connect(item, &DdeItem::poked, item, [item](const QString &poked) { printLine(item->name() + u'=' + poked); });
    return item;
}

// The longest line of new values taken from standard input.
constexpr qsizetype MaxInputLine = 1 << 20;

int serve(const QStringList &args)
{
    if (args.size() < 2)
        return usage();
    DdeServer server;
    DdeTopic *topic = server.createTopic(args[1]);
    if (!topic)
        return fail(server.errorString());
    for (const QString &assignment : args.mid(2)) {
        QString name, text;
        if (!splitAssignment(assignment, name, text))
            return usage();
        if (!setItem(topic, name, text))
            return fail(QStringLiteral("cannot serve item \"%1\"").arg(name));
    }
    if (!server.listen(args[0]))
        return fail(server.errorString());

    QByteArray pending;
    bool skipping = false;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {  // end of input: keep serving what we have
            input.setEnabled(false);
            return;
        }
        pending.append(chunk, n);
        // A line longer than any item text could be is dropped rather than kept growing.
        if (pending.indexOf('\n') < 0 && pending.size() > MaxInputLine) {
            std::fprintf(stderr, "ddeclient: ignored a line of more than %d bytes\n", int(MaxInputLine));
            pending.clear();
            skipping = true;
            return;
        }
        if (skipping) {  // the rest of a dropped line, up to its end
            const qsizetype end = pending.indexOf('\n');
            if (end < 0) {
                pending.clear();
                return;
            }
            pending.remove(0, end + 1);
            skipping = false;
        }
        qsizetype eol;
        while ((eol = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(eol)).remove(u'\r');
            pending.remove(0, eol + 1);
            QString name, text;
            if (!splitAssignment(line, name, text) || !setItem(topic, name, text))
                std::fprintf(stderr, "ddeclient: ignored \"%s\"\n", line.toUtf8().constData());
        }
    });
    return QCoreApplication::exec();
}

int useClient(const QString &command, QStringList args)
{
    int waitMs = 0;
    if (!args.isEmpty() && args[0] == QLatin1String("--wait")) {
        bool ok = false;
        waitMs = args.value(1).toInt(&ok);
        if (!ok || waitMs < 0)
            return usage();
        args = args.mid(2);
    }
    const qsizetype wanted = command == QLatin1String("poke") ? 4 : 3;
    if (args.size() != wanted)
        return usage();

    DdeClient client;
    if (!(waitMs > 0 ? client.connectWithin(args[0], args[1], waitMs) : client.connectTo(args[0], args[1])))
        return fail(client.errorString());

    if (command == QLatin1String("request")) {
        const auto text = client.request(args[2]);
        if (!text)
            return fail(client.errorString());
        printLine(*text);
        return 0;
    }
    if (command == QLatin1String("poke"))
        return client.poke(args[2], args[3]) ? 0 : fail(client.errorString());

    QObject::connect(&client, &DdeClient::itemChanged, &client, [](const QString &, const QString &text) { printLine(text); });
    QObject::connect(&client, &DdeClient::disconnected, &client, [](const QString &reason) {
        fail(reason);
        QCoreApplication::exit(1);
    });
    if (!client.advise(args[2]))
        return fail(client.errorString());
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    quitOnStopSignals();
    // A reader of our output that goes away must not kill a serving tool and leave its socket.
    std::signal(SIGPIPE, SIG_IGN);
    if (command == QLatin1String("serve"))
        return serve(args);
    if (command == QLatin1String("request") || command == QLatin1String("advise") || command == QLatin1String("poke"))
        return useClient(command, args);
    return usage();
}
