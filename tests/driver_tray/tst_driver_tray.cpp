// The driver's window on a real X display (Xvfb), with and without a notification area: with
// one, minimising leaves only the icon and the icon's menu brings the window back; without one,
// minimising leaves a normal minimised window, and the icon's menu is the window's context menu.
// The environment says which case runs: DRIVER_TRAY_OWNER names a program that takes the
// notification area's selection before the driver looks for it.
#include "main_u.h"
#include "prgcontrol.h"
#include "tests/dde/dde_test_support.h"

#include "platform/messages.h"

#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDriverTray : public QObject {
    Q_OBJECT

    QProcess trayOwner;
    bool withTray = false;

    static void grab(QWidget *window, const QString &name)
    {
        if (const QByteArray dir = qgetenv("DRIVER_GRAB_DIR"); !dir.isEmpty())
            window->grab().save(QString::fromLocal8Bit(dir) + u'/' + name + QStringLiteral(".png"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const QString owner = qEnvironmentVariable("DRIVER_TRAY_OWNER");
        withTray = !owner.isEmpty();
        if (withTray) {
            trayOwner.start(owner, {});
            QVERIFY(trayOwner.waitForReadyRead(10000));
            QCOMPARE(trayOwner.readLine().trimmed(), QByteArray("ready"));
        }
        QCOMPARE(QSystemTrayIcon::isSystemTrayAvailable(), withTray);
    }
    void cleanupTestCase()
    {
        if (trayOwner.state() != QProcess::NotRunning) {
            trayOwner.terminate();
            trayOwner.waitForFinished(5000);
        }
    }

    void minimiseAndComeBack()
    {
        platform::ApplicationWindow appWindow;
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));
        TMain main;
        QCOMPARE(main.InitializeDriver({}, QStringLiteral("drvtray")), TMain::StartResult::Started);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QCOMPARE(main.TrayIcon()->isVisible(), withTray);
        auto *button2 = main.findChild<QPushButton *>(QStringLiteral("Button2"));
        QCOMPARE(button2->text(), QStringLiteral("&Hide"));
        QMenu *menu = main.TrayMenu();
        grab(&main, withTray ? QStringLiteral("tagpump-tray") : QStringLiteral("tagpump-notray"));

        QTest::mouseClick(button2, Qt::LeftButton);
        if (withTray) {
            // Only the icon remains; its menu's first item brings the window back.
            QTRY_VERIFY(!main.isVisible());
            QVERIFY(main.TrayIcon()->isVisible());
            menu->findChild<QAction *>(QStringLiteral("PM1_1"))->trigger();
            QTRY_VERIFY(main.isVisible() && !main.isMinimized());
            // Minimised by the desktop: hidden to the icon as well.
            main.showMinimized();
            QTRY_VERIFY(!main.isVisible());
            menu->findChild<QAction *>(QStringLiteral("PM1_1"))->trigger();
            QTRY_VERIFY(main.isVisible() && !main.isMinimized());
            return;
        }

        // No notification area: a minimised window that stays on the desktop.
        QTRY_VERIFY(main.isMinimized());
        QVERIFY(main.isVisible());
        QVERIFY(!main.TrayIcon()->isVisible());
        main.showNormal();
        QTRY_VERIFY(!main.isMinimized());
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        // A right click on the window opens the icon's menu, and its items work from there.
        auto *clock = main.findChild<QLabel *>(QStringLiteral("SB1Panel0"));
        const QPoint at = clock->mapToGlobal(clock->rect().center());
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                   {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                    QStringLiteral("click"), QStringLiteral("3")}),
                 0);
        QTRY_VERIFY(menu->isVisible());
        grab(menu, QStringLiteral("tagpump-notray-menu"));
        QStringList items;
        for (QAction *action : menu->actions())
            items << action->text();
        QCOMPARE(items, (QStringList{"&Tagpump", "&About", "&Help", "", "&Exit"}));
        main.showMinimized();
        QTRY_VERIFY(main.isMinimized());
        QAction *restore = menu->findChild<QAction *>(QStringLiteral("PM1_1"));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(restore).center());
        QTRY_VERIFY(!menu->isVisible());
        QTRY_VERIFY(!main.isMinimized());
        QVERIFY(main.isVisible());
    }
};

QTEST_MAIN(TestDriverTray)
#include "tst_driver_tray.moc"
