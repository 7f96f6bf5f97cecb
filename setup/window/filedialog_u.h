#pragma once
// TFileDialog: one of the program's file dialogs (projects, EEPROM copies, calibration files).
// It keeps its title, filter, default extension and initial folder for the whole run, and
// builds a QFileDialog each time it is shown. Execute() may be called on any thread: the dialog
// always runs on the window thread and a worker waits for the user's choice.
#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

class TFileDialog : public QObject {
    Q_OBJECT
public:
    enum TKind { Open, Save };

    // filter is given as pairs "description|pattern|description|pattern", e.g.
    // "EEPROM File (*.bin)|*.bin|All files (*.*)|*.*"; defaultExt as ".bin".
    TFileDialog(QWidget *owner, TKind kind, const QString &title, const QString &filter,
                const QString &defaultExt);

    TKind Kind() const { return FKind; }
    QString Title() const { return FTitle; }
    QString DefaultExt() const { return FDefaultExt; }
    // The filter as QFileDialog takes it: "EEPROM File (*.bin);;All files (*)".
    QString NameFilters() const { return FNameFilters.join(QStringLiteral(";;")); }

    QString InitialDir() const;
    void SetInitialDir(const QString &dir);

    // Shows the dialog modally. True with the chosen file in FileName(); false when cancelled.
    bool Execute();
    QString FileName() const;

private:
    QWidget *FOwner;
    TKind FKind;
    QString FTitle;
    QStringList FNameFilters;
    QString FDefaultExt;
    QString FInitialDir;  // window thread only
    QString FFileName;    // window thread only
};
