#include "filedialog_u.h"

#include "global_u.h"

#include <QFileDialog>

namespace {

// "desc (*.bin)|*.bin|All files (*.*)|*.*" -> {"desc (*.bin)", "All files (*)"}. The pattern
// after each bar is the one that counts; "*.*" means every file, with or without a dot.
QStringList ToNameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1].trimmed();
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // The description without its own trailing "(...)" and the blanks around it: the dialog
        // shows the pattern itself.
        QString description = parts[i];
        qsizetype end = description.size();
        while (end > 0 && description.at(end - 1).isSpace())
            --end;
        if (end > 0 && description.at(end - 1) == QLatin1Char(')')) {
            const qsizetype open = description.lastIndexOf(QLatin1Char('('), end - 1);
            if (open >= 0 && description.indexOf(QLatin1Char(')'), open) == end - 1) {
                qsizetype cut = open;
                while (cut > 0 && description.at(cut - 1).isSpace())
                    --cut;
                description.truncate(cut);
            }
        }
        result << QStringLiteral("%1 (%2)").arg(description, pattern);
    }
    return result;
}

} // namespace

TFileDialog::TFileDialog(QWidget *owner, TKind kind, const QString &title, const QString &filter,
                         const QString &defaultExt)
    : QObject(owner)
    , FOwner(owner)
    , FKind(kind)
    , FTitle(title)
    , FNameFilters(ToNameFilters(filter))
    , FDefaultExt(defaultExt)
{
}

QString TFileDialog::InitialDir() const
{
    return RunOnWindowThread([this] { return FInitialDir; });
}

void TFileDialog::SetInitialDir(const QString &dir)
{
    RunOnWindowThread([this, &dir] { FInitialDir = dir; });
}

QString TFileDialog::FileName() const
{
    return RunOnWindowThread([this] { return FFileName; });
}

bool TFileDialog::Execute()
{
    return RunOnWindowThread([this] {
        QFileDialog dialog(FOwner, FTitle, FInitialDir);
        dialog.setObjectName(objectName());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(FKind == Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        // The open dialog takes a name of a file that does not exist; the save dialog takes an
        // existing one without asking: the operations decide what to do with either.
        dialog.setFileMode(QFileDialog::AnyFile);
        if (FKind == Save)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setNameFilters(FNameFilters);
        QString suffix = FDefaultExt;
        if (suffix.startsWith(QLatin1Char('.')))
            suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        FFileName = dialog.selectedFiles().constFirst();
        return true;
    });
}
