#pragma once
// TSetup, the driver's settings window ("Tagpump Setup"): three pages of settings and the
// sensor grid, applied to the running driver by "&Ok" or by Yes in the close question, and put
// back as they were by No. What is applied is written to the settings file at once (the
// program's end writes it again).
//
// The window lives beside the main window (its left edge at the main window's right edge, the
// tops level) and follows it when the main window moves or changes size. While it is shown the
// driver is in the settings state.
//
// The sensor grid SG1 keeps the texts of rows cut off by a smaller count: they are hidden, not
// removed, and come back with their texts; a row that never held texts comes in with the label
// and the defaults of a new sensor. Apply checks every cell, the topic and the item prefix
// before it changes anything, so a bad value leaves the driver as it was.
#include <QStringList>
#include <QWidget>

class TProgramControl;

namespace Ui {
class TSetup;
}

class TSetup : public QWidget {
    Q_OBJECT
public:
    TSetup(TProgramControl *control, QWidget *mainWindow);
    ~TSetup() override;

    bool Modified = false;
    // Puts the settings back as the window found them when anything was edited, as "No" in the
    // close question does.
    void DropEdits();
    QStringList SettingsSnapshot;  // the settings' field texts when the window was shown

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Button1Click();
    void Button3Click();
    void CB1Change(QObject *sender);
    void DE1Browse();

    void LoadControls();
    void FillSensorGrid();
    void SetDefaultGridRow(int row);
    bool ApplySettings();
    void TakeSettingsSnapshot();
    void RestoreSettingsSnapshot();
    void FollowMainWindow();

    // The grid as rows 0 (header) to GridRowCount-1; row n stands for sensor n.
    int GridRowCount() const { return FGridRowCount; }
    void SetGridRowCount(int count);
    QString Cell(int column, int row) const;
    void SetCell(int column, int row, const QString &text);
    // Why Apply cannot take the window's values, or empty when it can.
    QString CheckValues() const;

    Ui::TSetup *ui;
    TProgramControl *FControl;
    QWidget *FMainWindow;
    int FGridRowCount = 1;
};
