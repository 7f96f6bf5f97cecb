#pragma once
// What the driver's settings, log and settings-window tests share: a controller made in a
// private working folder (with a settings file of the test's choosing), the file's bytes, and
// answering the modal boxes that the code under test opens.
#include "ascii_chanclass.h"
#include "prgcontrol.h"

#include "platform/codepage.h"
#include "platform/messages.h"
#include "tests/support/file_bytes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// The controller as the start-up routine makes it, with the working folder `folder` (the
// current directory while it is created).
struct DriverFolderFixture {
    explicit DriverFolderFixture(const QString &folder)
    {
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder);
        main = std::make_unique<QWidget>();
        control = new TProgramControl(main.get(), platform::ApplicationWindow::instance()->handle());
        QDir::setCurrent(before);
    }
    ~DriverFolderFixture()
    {
        delete control;
        main.reset();
    }
    QString iniPath() const { return control->WorkingDir + QStringLiteral("tagpump.ini"); }

    std::unique_ptr<QWidget> main;
    TProgramControl *control = nullptr;
};

// Sensor i of the controller as "device,channel,step,time-out"; "none" past the last one.
inline QString sensorText(const TProgramControl &c, int i)
{
    const TASCIIChannel *s = c.Sensor(i);
    return s ? QStringLiteral("%1,%2,%3,%4").arg(s->DeviceNumber).arg(s->ChannelNumber).arg(s->Step).arg(s->TimeOut)
             : QStringLiteral("none");
}

// Runs `act` on the next modal window (message box or dialog) as soon as it is up.
inline void onNextModal(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

// Answers the next message box with `button`; the box's text lands in the returned string.
inline std::shared_ptr<QString> answerNextBox(QMessageBox::StandardButton button)
{
    auto text = std::make_shared<QString>(QStringLiteral("<no box>"));
    onNextModal([text, button](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            *text = QStringLiteral("<not a message box: %1>").arg(modal->objectName());
            modal->close();
            return;
        }
        *text = box->text();
        box->button(button)->click();
    });
    return text;
}
