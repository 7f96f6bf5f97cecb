#pragma once
// Qt's own texts (file dialogs, standard buttons, context menus) in Russian, as the rest of the
// programs' interface is. Debian installs Qt's translations in the package qt6-translations-l10n;
// without them Qt's texts stay English and the programs still run.
class QCoreApplication;

namespace platform {

// Loads Qt's Russian translations into the application; true when they were found. Call once,
// after the application object exists and before the first window.
bool InstallQtTranslations(QCoreApplication &application);

} // namespace platform
