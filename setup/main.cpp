// The setup program vks74xx.
#include "shared_widgets/about_u.h"
#include "global_u.h"
#include "main_u.h"
#include "platform/end_signals.h"
#include "platform/help.h"
#include "platform/messages.h"
#include "platform/runtime_dir.h"
#include "platform/utf8_locale.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include <memory>

int main(int argc, char *argv[])
{
    platform::exportRuntimeDir();
    InitGlobals();  // the registered messages and the link lock, before any window

    QApplication application(argc, argv);
    platform::UseUtf8CharacterSet();
    Q_INIT_RESOURCE(resources);
    InitApplication(application);
    platform::SetDocumentOpener(
        [](const QString &path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });

    platform::ApplicationWindow applicationWindow;
    int result = 0;
    {
        TfMain mainWindow;
        // "О программе..." shows the About box, made at its first showing rather than before
        // the window comes.
        std::unique_ptr<TAbout> about;
        QObject::connect(mainWindow.findChild<QAction *>(QStringLiteral("M9N9")), &QAction::triggered, &mainWindow,
                         [&about, &mainWindow] {
                             if (!about)
                                 about = std::make_unique<TAbout>(TAbout::SetupProgram(&mainWindow), &mainWindow);
                             about->exec();
                         });
        // A logout, Ctrl-C or a closed terminal end the program as "Выход" does.
        platform::HandleEndSignals([&mainWindow](int signal) { mainWindow.EndUnattended(signal); });
        mainWindow.show();
        result = QApplication::exec();
        platform::StopHandlingEndSignals();  // before the window goes, which may still run events
    }
    // Workers delete themselves through the event loop; let the last ones go.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    DoneGlobals();
    return result;
}
