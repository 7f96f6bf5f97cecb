// The data driver tagpump.
#include "main_u.h"
#include "shared_widgets/about_u.h"

#include "platform/dde_names.h"
#include "platform/end_signals.h"
#include "platform/help.h"
#include "platform/messages.h"
#include "platform/runtime_dir.h"
#include "platform/translations.h"
#include "platform/utf8_locale.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include <cstdlib>
#include <utility>

namespace {

// The main window while the event loop runs. Qt ends the program by exit() when it loses its display (from
// the event loop, or from any call to the display); the window then ends a run and writes its
// settings first.
TMain *runningWindow = nullptr;

void endBeforeExit()
{
    if (TMain *window = std::exchange(runningWindow, nullptr))
        window->EndAtExit();
}

} // namespace

int main(int argc, char *argv[])
{
    platform::exportRuntimeDir();
    QApplication application(argc, argv);
    platform::UseUtf8CharacterSet();
    QApplication::setQuitOnLastWindowClosed(false);  // the window hides to its icon
    // The program's title is not Qt's application display name, which the window system would
    // append to every caption ("Tagpump" stays the caption of the main window alone).
    QCoreApplication::setApplicationName(QStringLiteral("tagpump"));
    platform::InstallQtTranslations(application);
    platform::SetDocumentOpener(
        [](const QString &path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });

    platform::ApplicationWindow applicationWindow;
    int result = 0;
    {
        TMain mainWindow;
        QObject::connect(&mainWindow, &TMain::Finished, &application, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        // A logout, Ctrl-C or a closed terminal end the driver as "&Exit" does, also while the
        // start-up still runs.
        platform::HandleEndSignals([&mainWindow](int) { mainWindow.EndUnattended(); });
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        const QString service = platform::ddeServiceName(QCoreApplication::applicationFilePath());
        if (mainWindow.InitializeDriver(arguments, service) == TMain::StartResult::AlreadyRunning) {
            platform::StopHandlingEndSignals();
            return 1;
        }
        TAbout about(TAbout::DataDriver());
        mainWindow.SetAboutBox(&about);
        mainWindow.show();
        // Registered last, so that it runs before the destructors of everything the start-up made.
        runningWindow = &mainWindow;
        static const bool registered = std::atexit(endBeforeExit) == 0;
        Q_UNUSED(registered);
        result = QApplication::exec();
        runningWindow = nullptr;
        platform::StopHandlingEndSignals();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
