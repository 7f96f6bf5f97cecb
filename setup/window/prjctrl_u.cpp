#include "prjctrl_u.h"

#include "device_u.h"
#include "filedialog_u.h"
#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "platform/profile.h"
#include "platform/user_file.h"
#include "resource_picture.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

const QString TProjectControl::CloseQuestion = QStringLiteral("Закрыть текущий проект?");
const QString TProjectControl::SaveQuestion =
    QStringLiteral("Текущий проект не сохранен!\rСохранить перед закрытием?");
const QString TProjectControl::CloseSaveQuestion =
    QStringLiteral("Текущий проект не сохранен!!!\rСохранить перед закрытием?");
const QString TProjectControl::SaveAgainQuestion =
    QStringLiteral("В проекте не было зафиксировано изменений!\rСохранить еще раз?");
const QString TProjectControl::NoProjectNotice = QStringLiteral("Нет открытого проекта!");
const QString TProjectControl::NameRefusal = QStringLiteral("Под этим именем сохранять проект нельзя!");
const QString TProjectControl::ReadWarning =
    QStringLiteral("Перед настройкой прибора, обязательно считайте из него параметры!");
const QString TProjectControl::BusyRefusal =
    QStringLiteral("Проект не сохранен: идет обмен с прибором.\rСохраните проект после окончания обмена.");
const QString TProjectControl::NoName = QStringLiteral("noname.prj");

namespace {

const QString Filter = QStringLiteral("Project file (*.prj)|*.prj|All files (*.*)|*.*");
const QString DefaultExt = QStringLiteral(".prj");
constexpr int StatusTextLength = 255;

QPixmap StatePicture(int index)
{
    return ResourcePicture(QStringLiteral(":/IL0/%1.png").arg(index));
}

} // namespace

QString FolderPart(const QString &path)
{
    return path.left(path.size() - FileNamePart(path).size());
}

QString UserFileMessage(const platform::UserFileError &e)
{
    const QString shown = QDir::toNativeSeparators(e.path());
    if (e.kind() == platform::UserFileError::NotRegular)
        return QStringLiteral("\"%1\" не является обычным файлом (это канал, устройство или папка): открыть его нельзя.")
            .arg(shown);
    return QStringLiteral("Не удалось открыть файл \"%1\":\r%2").arg(shown, e.reason());
}

TProjectControl::TProjectControl(TfMain *main) : FMain(main)
{
    FOpenDialog = new TFileDialog(main, TFileDialog::Open, QString(), Filter, DefaultExt);
    FOpenDialog->setObjectName(QStringLiteral("ProjectOpenDialog"));
    FSaveDialog = new TFileDialog(main, TFileDialog::Save, QString(), Filter, DefaultExt);
    FSaveDialog->setObjectName(QStringLiteral("ProjectSaveDialog"));

    // The picture lies on the left edge of the third status panel, over the blanks that lead
    // its text.
    QLabel *panel = main->Frame().SB0Panel2;
    auto *layout = new QHBoxLayout(panel);
    layout->setContentsMargins(3, 0, 0, 0);
    FStateImage = new QLabel(panel);
    FStateImage->setObjectName(QStringLiteral("StateImage"));
    FStateImage->setFixedSize(13, 13);
    FStateImage->setAttribute(Qt::WA_TranslucentBackground);
    layout->addWidget(FStateImage, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch();

    SetProjectStatusText(QString());
    SetState(psNone);
}

TProjectControl::~TProjectControl()
{
    delete FStateImage.data();
    delete FSaveDialog.data();
    delete FOpenDialog.data();
}

// ---------------------------------------------------------------------------------------------
// State and status panel

void TProjectControl::SetProjectStatusText(const QString &text)
{
    FStatusText = text.left(StatusTextLength);
    FMain->Frame().SB0Panel2->setText(QStringLiteral("     ") + FStatusText);
}

void TProjectControl::SetState(std::uint8_t state)
{
    RunOnWindowThread([&] {
        FState = state;
        switch (state) {
        case psNone:
            FStateImage->setPixmap(StatePicture(0));
            FStateImage->hide();
            SetProjectStatusText(QStringLiteral("Нет открытого проекта"));
            break;
        case psSaved:
            FStateImage->setPixmap(StatePicture(0));
            FStateImage->show();
            SetProjectStatusText(QStringLiteral("Текущий проект сохранен"));
            break;
        case psModified:
            FStateImage->setPixmap(StatePicture(1));
            FStateImage->show();
            SetProjectStatusText(QStringLiteral("Текущий проект изменен"));
            break;
        default:
            break;
        }
        FMain->ProgramControl->ApplyAccessMasks();
    });
}

std::uint16_t TProjectControl::Ask(const QString &text, std::uint8_t kind, std::uint16_t buttons)
{
    return FMain->ProgramControl->ShowProgramMessage(true, text, TMessageKind(kind), buttons);
}

// ---------------------------------------------------------------------------------------------
// Commands

int TProjectControl::NewProject()
{
    switch (State()) {
    case psSaved:
        if (Ask(CloseQuestion, mtConfirmation, mbYesNoCancel) != mrYes)
            return 0;
        CloseProject();
        break;
    case psModified:
        if (Ask(CloseQuestion, mtConfirmation, mbYesNoCancel) != mrYes)
            return 0;
        // No and Cancel close without saving. A save that was asked for and did not happen
        // keeps the project open rather than lose it.
        if (Ask(SaveQuestion, mtConfirmation, mbYesNoCancel) == mrYes && SaveProject() != 0)
            return 0;
        ResetProject();
        break;
    default:
        break;
    }
    QString dir = FMain->ProgramControl->SaveDir();
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    FMain->ProgramControl->SetProjectFileName(dir + NoName);
    return LoadNewProject();
}

int TProjectControl::OpenProject()
{
    switch (State()) {
    case psSaved:
        if (Ask(CloseQuestion, mtConfirmation, mbYesNoCancel) != mrYes)
            return 0;
        ResetProject();
        break;
    case psModified: {
        if (Ask(CloseQuestion, mtConfirmation, mbYesNo) == mrNo)
            return 0;
        const std::uint16_t save = Ask(SaveQuestion, mtConfirmation, mbYesNoCancel);
        if (save != mrYes && save != mrNo)
            return 0;
        if (save == mrYes && SaveProject() != 0)
            return 0;
        ResetProject();
        break;
    }
    default:
        break;
    }
    // A cancelled dialog leaves no project open; the name still names the old one.
    const QString chosen = Choose(FOpenDialog);
    if (chosen.isEmpty())
        return 0;
    // A pipe or a device is refused (UserFileError) before it becomes the project; a missing
    // file opens as a project of defaults.
    if (QFileInfo::exists(chosen))
        platform::requireRegularFile(chosen);
    SetChosenName(chosen);
    return LoadProject();
}

int TProjectControl::SaveProject()
{
    switch (State()) {
    case psSaved:
        if (Ask(SaveAgainQuestion, mtInformation, mbYesNo) == mrYes)
            return WriteProject();
        return 0;
    case psModified:
        return SaveModified(false) == TSaved::Written ? 0 : -1;
    default:
        Ask(NoProjectNotice, mtInformation, mbCancel);
        return -1;
    }
}

int TProjectControl::SaveProjectAs()
{
    if (State() != psSaved && State() != psModified) {
        Ask(NoProjectNotice, mtInformation, mbCancel);
        return 0;
    }
    // Every name is taken here, "noname.prj" too, once the project is written under it.
    const QString chosen = Choose(FSaveDialog);
    if (chosen.isEmpty())
        return 0;
    if (WriteProjectTo(chosen) != 0)
        return -1;
    SetChosenName(chosen);
    return 0;
}

int TProjectControl::CloseProject()
{
    switch (State()) {
    case psSaved:
        break;
    case psModified: {
        const std::uint16_t answer = Ask(CloseSaveQuestion, mtConfirmation, mbYesNoCancel);
        if (answer != mrYes && answer != mrNo)
            return 0;
        // A save that was asked for and did not happen keeps the project open.
        if (answer == mrYes && SaveModified(true) != TSaved::Written)
            return 0;
        break;
    }
    default:
        Ask(NoProjectNotice, mtInformation, mbCancel);
        return 0;
    }
    FMain->ProgramControl->SetProjectFileName(QString());
    return ResetProject();
}

TProjectControl::TSaved TProjectControl::SaveModified(bool keepDir)
{
    if (FileNamePart(FMain->ProgramControl->ProjectFileName()) != NoName)
        return WriteProject() == 0 ? TSaved::Written : TSaved::NotWritten;
    const QString chosen = Choose(FSaveDialog);
    if (chosen.isEmpty())
        return TSaved::NotWritten;
    if (FileNamePart(chosen) == NoName) {
        Ask(NameRefusal, mtWarning, mbOK);
        return TSaved::NotWritten;
    }
    // The name is the project's only once the file is written: a save refused during an
    // exchange (or by the disk) leaves the caption and the stored name as they were.
    if (WriteProjectTo(chosen) != 0)
        return TSaved::NotWritten;
    if (keepDir)
        FMain->ProgramControl->SetProjectFileName(chosen);
    else
        SetChosenName(chosen);
    return TSaved::Written;
}

QString TProjectControl::Choose(TFileDialog *dialog)
{
    return dialog->Execute() ? dialog->FileName() : QString();
}

void TProjectControl::SetChosenName(const QString &path)
{
    FMain->ProgramControl->SetSaveDir(FolderPart(path));
    FMain->ProgramControl->SetProjectFileName(path);
}

bool TProjectControl::RunCommand(const std::function<void()> &command)
{
    QString error;
    try {
        command();
        return true;
    } catch (const platform::ProfileWriteError &e) {
        error = e.message();
    } catch (const TConvertError &e) {
        error = e.Message();
    } catch (const platform::UserFileError &e) {
        error = UserFileMessage(e);
    }
    FMain->ProgramControl->ShowProgramMessage(true, error, mtError, mbOK);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Loading and writing

int TProjectControl::LoadNewProject()
{
    return Load(psModified);
}

int TProjectControl::LoadProject()
{
    return Load(psSaved);
}

int TProjectControl::Load(TProjectState state)
{
    const QString fileName = FMain->ProgramControl->ProjectFileName();
    ReadProjectSettings(fileName);
    // A damaged "Device" section ends the load: the settings read stay on the form, the
    // project stays modified, and the technician is told instead of being warned to read.
    QString damage;
    try {
        if (FMain->Device->LoadFromProject(fileName) != 0)
            damage = QStringLiteral("Значение неверной длины.");
    } catch (const TConvertError &e) {
        damage = e.Message();
    }
    if (!damage.isEmpty()) {
        SetState(psModified);
        Ask(QStringLiteral("Раздел \"Device\" проекта %1 поврежден, параметры прибора загружены не полностью:\r%2")
                .arg(fileName, damage),
            mtError, mbOK);
        return 0;
    }
    SetState(state);
    Ask(ReadWarning, mtWarning, mbOK);
    return 0;
}

int TProjectControl::WriteProject()
{
    return WriteProjectTo(FMain->ProgramControl->ProjectFileName());
}

int TProjectControl::WriteProjectTo(const QString &fileName)
{
    // A worker changes the blocks and the form only while it holds the link lock, and it holds
    // the lock whenever the exchange state says so, but for the pauses between the samples of a
    // loop. Without an exchange the save needs no lock; during one it takes the lock or, when a
    // worker has it, refuses.
    platform::NamedLock &link = COMPortMutex();
    bool locked = false;
    if (FMain->ProgramControl->ExchangeState() != Idle) {
        locked = link.tryLock();
        if (!locked) {
            Ask(BusyRefusal, mtWarning, mbOK);
            return -1;
        }
    }
    try {
        // The form goes into the model first, so a field that is not a number stops the save
        // before anything is written. Both sections go into the file in one replacement: a
        // reader (or another copy of the program) sees the old project or the new one.
        FMain->Device->TakeParams();
        platform::ProfileBatch ini(fileName);
        WriteProjectSettings(ini);
        FMain->Device->SaveToProject(ini);
        ini.commit();
    } catch (...) {
        if (locked)
            link.unlock();
        throw;
    }
    if (locked)
        link.unlock();
    SetState(psSaved);
    return 0;
}

int TProjectControl::ResetProject()
{
    SetState(psNone);
    return 0;
}
