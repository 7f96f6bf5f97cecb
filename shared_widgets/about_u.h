#pragma once
// TAbout: the About box of both programs, one class built by each with its own texts, size,
// placement, picture and set of live links.
//
// The box shows the program's title and version, the project's contact lines with three
// address labels (Href1 the author's mail, Href2 the web page, Href3 the project's mail) and two
// lines describing the system the program runs on, filled once when the box is made. A live
// address underlines while the mouse is over it and, when clicked, is handed to the desktop's
// handler (mail addresses as "mailto:"); a failure to open is ignored. The underline goes when
// the mouse moves over the box's free surface. Every address label shows the hand cursor,
// also where it is not live.
#include "platform/system_info.h"

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <functional>

class QAction;
class QLabel;

namespace Ui {
class TAbout;
}

// The source of the two system lines; a test gives a known system.
using TSystemSource = std::function<platform::SystemDescription()>;

// The two lines: "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))" and
// "Physical Memory:      16318820 KB" (whole KB, the remainder dropped).
QString PlatformLine(const platform::SystemDescription &system);
QString MemoryLine(const platform::SystemDescription &system);

// Where the box goes when it is centred over the main window: each half a whole number,
// truncated; the box may lie partly off the screen.
QPoint CentredOver(const QRect &mainWindow, const QSize &box);

class TAbout : public QDialog {
    Q_OBJECT
public:
    // The texts and behaviour that differ between the programs.
    struct TVariant {
        QString Caption;          // "О программе", "About Tagpump"
        QString Title;            // Label2; lines separated by "\r\n", shown centred
        QString Version;          // Label3, "Version 3.03"
        QSize ClientSize;         // 414 x 258, 389 x 257
        QPixmap Picture;          // Image1; none for an empty panel
        bool AllLinksLive = false;  // false: only Href1 (the author's mail) is live
        // Non-null: the box is centred over this window each time it is shown; null: centred
        // on the screen.
        QWidget *CentreOver = nullptr;
    };

    explicit TAbout(const TVariant &variant, QWidget *parent = nullptr, TSystemSource system = {});
    ~TAbout() override;

    // The setup program's box and the driver's, with their texts.
    static TVariant SetupProgram(QWidget *mainWindow);
    static TVariant DataDriver();

    // The project's contact texts, the same in both programs.
    static const QString MakerName, MakerLine, AuthorLine, AuthorMail, WebPage, MakerMail;

    // The command (a menu item) that shows the box modally.
    void OpenFrom(QAction *command);

    // Fills SLabel1 and SLabel2 from the system source; once, at creation.
    void ShowSystemInfo();

    Ui::TAbout *const ui;

protected:
    void showEvent(QShowEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool IsLive(const QObject *label) const;
    void SetUnderline(QLabel *label, bool on);
    void OpenLink(const QLabel *label);

    TVariant FVariant;
    TSystemSource FSystem;
};
