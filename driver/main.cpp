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
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        const QString service = platform::ddeServiceName(QCoreApplication::applicationFilePath());
        if (mainWindow.InitializeDriver(arguments, service) == TMain::StartResult::AlreadyRunning)
            return 1;
        TAbout about(TAbout::DataDriver());
        mainWindow.SetAboutBox(&about);
        // A logout, Ctrl-C or a closed terminal end the driver as "&Exit" does.
        platform::HandleEndSignals([&mainWindow](int) { mainWindow.EndUnattended(); });
        mainWindow.show();
        result = QApplication::exec();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
