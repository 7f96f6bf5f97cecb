// The main window of the setup program made in the benchmark's own process: one application, one
// application window and the link lock in a private runtime folder, made on first use.
#include "window_search.h"

#include "setup/instrument/device_u.h"
#include "setup/instrument/exchange_u.h"
#include "setup/window/global_u.h"
#include "setup/window/main_u.h"
#include "platform/messages.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>


namespace {

void makeApplication()
{
    // Made once and kept to the end of the process: destroying Qt's application from the exit
    // handlers, after main has returned, is not safe.
    static bool made = false;
    static QTemporaryDir runtime;
    if (made)
        return;
    made = true;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A lock of its own: a running copy of the program must not stall the benchmark.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    InitGlobals();
    static int argc = 1;
    static char name[] = "link_bench";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    new platform::ApplicationWindow();
}

} // namespace

WindowSearch searchThroughWindow(sim::InstrumentSim &simulator, int baud, int found)
{
    makeApplication();
    // The window reads and writes its settings beside the program: leave no file behind.
    const QString settings = QCoreApplication::applicationFilePath() + QStringLiteral(".ini");
    const bool hadSettings = QFile::exists(settings);
    WindowSearch result;
    {
        TfMain window;
        // The window's controls by their component names.
        for (const char *option : {"M1N1", "M1N2", "M1N3"})
            window.findChild<QAction *>(QLatin1String(option))->setChecked(false);  // no question, no report
        auto *port = window.findChild<QComboBox *>(QStringLiteral("TS0CB2"));
        port->addItem(QString::fromStdString(simulator.portPath()));
        port->setCurrentIndex(port->count() - 1);
        window.findChild<QComboBox *>(QStringLiteral("TS0CB3"))->setCurrentText(QString::number(baud));
        window.findChild<QSpinBox *>(QStringLiteral("TS0SE1"))->setValue(0);
        window.findChild<QSpinBox *>(QStringLiteral("TS0SE2"))->setValue(255);
        auto *list = window.findChild<QListWidget *>(QStringLiteral("TS0LB0"));

        simulator.resetStats();
        QElapsedTimer clock;
        clock.start();
        TExchange::Start(window.Device, &TDevice::SearchDevices);
        while (TExchange::Running() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.stats = simulator.stats();
        result.ok = list->count() == 1 && list->item(0)->text() == QString::number(found);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!hadSettings)
        QFile::remove(settings);
    return result;
}
