// Access masks applied to a small stand-in of the main window: a few menus, toolbar buttons,
// the page control with its six sheets and some of their controls, named as in the real form.
#include "setup/window/accessmask_u.h"

#include <QAction>
#include <QGroupBox>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QtTest>

#include <memory>
#include <set>

using M = TAccessMasks;
using Names = std::set<std::string_view>;

namespace {

// Per sheet, the controls on its panel; a control named "...GB..." holds those after it.
const QStringList kSheets[6] = {{"TS0Button1", "TS0GB1", "TS0LB0", "TS0Button2"}, {"TS1Button1"},
                                {"TS2Button3"}, {"TS3Label19", "TS3GB1", "TS3Button11"},
                                {"TS4Button2", "TS4GB1", "TS4Button5"}, {"TS5GB1", "TS5Button4"}};

std::unique_ptr<QMainWindow> MakeWindow(QStringList &names)
{
    auto w = std::make_unique<QMainWindow>();
    auto add = [&](QObject *o, const QString &name) { o->setObjectName(name), names << name; };
    for (const QStringList &menu : {QStringList{"M0", "M0N1", "M0N3", "M0N9"},
                                    QStringList{"M1", "M1N1", "M1N2", "M1N4"}, QStringList{"M2", "M2N1"}}) {
        QMenu *m = w->menuBar()->addMenu(menu[0]);
        add(m, menu[0]);
        for (const QString &item : menu.mid(1))
            add(m->addAction(item), item);
    }
    QToolBar *bar = w->addToolBar("bar");
    add(bar, "TBar0");
    for (const QString &b : QStringList{"TB1", "TB3", "TB5", "TBS2", "TB19"})
        add(b == "TBS2" ? bar->addSeparator() : bar->addAction(b), b);
    auto *pc0 = new QTabWidget;
    pc0->setObjectName("PC0");
    w->setCentralWidget(pc0);
    for (int n = 0; n < 6; ++n) {
        auto *page = new QWidget;
        add(page, QString("TS%1").arg(n));
        QWidget *parent = new QWidget(page);
        add(parent, QString("TS%1Panel0").arg(n));
        add(new QPushButton(parent), QString("TS%1Button0").arg(n));
        for (const QString &name : kSheets[n]) {
            QWidget *c = name.contains("GB") ? new QGroupBox(parent) : new QWidget(parent);
            add(c, name);
            parent = name.contains("GB") ? c : parent;
        }
        pc0->addTab(page, page->objectName());
    }
    return w;
}

QTabWidget *Tabs(QObject *w) { return w->findChild<QTabWidget *>("PC0"); }

// What the user gets of a component (a menu through its bar entry, a sheet through its tab);
// for a widget its own enabled state, whatever its parents' state.
bool Is(QObject *w, const QString &name, bool visible)
{
    QObject *o = w->findChild<QObject *>(name);
    if (auto *m = qobject_cast<QMenu *>(o))
        o = m->menuAction();
    if (auto *a = qobject_cast<QAction *>(o))
        return visible ? a->isVisible() : a->isEnabled();
    auto *x = qobject_cast<QWidget *>(o);
    if (const int tab = Tabs(w)->indexOf(x); tab >= 0)
        return visible ? Tabs(w)->isTabVisible(tab) : Tabs(w)->isTabEnabled(tab);
    return visible ? !x->isHidden() : !x->testAttribute(Qt::WA_ForceDisabled);
}

// The stand-in window with its masks.
struct Fake
{
    QStringList names;  // every component of the window
    std::unique_ptr<QMainWindow> w = MakeWindow(names);
    QTabWidget *pc0 = Tabs(w.get());
    M masks;
    void Apply(int mode, int project, int exchange) { masks.Apply(mode, project, exchange, w.get()); }
    bool Shown(const QString &name) const { return Is(w.get(), name, true); }
    bool Enabled(const QString &name) const { return Is(w.get(), name, false); }
};

Names NamesIn(const M::Mask &mask, std::string_view prefix = {}, std::string_view part = {})
{
    Names names;
    for (const M::Component &c : M::Components())
        if (mask.test(std::size_t(c.Id)) && c.Name.starts_with(prefix) && c.Name.find(part) != c.Name.npos)
            names.insert(c.Name);
    return names;
}

}  // namespace

class TestAccessMask : public QObject
{
    Q_OBJECT

private slots:
    void visibilityFollowsMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("hidden");
        QTest::newRow("admin") << int(M::Admin) << QStringList{};
        QTest::newRow("internal") << int(M::Internal) << QStringList{"TS3Label19"};
        QTest::newRow("external") << int(M::External)
                                  << QStringList{"M1N2", "M2", "M2N1", "TB5", "TBS2", "TS3", "TS5GB1"};
    }
    void visibilityFollowsMode()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, hidden);
        Fake f;
        f.Apply(M::Admin, M::ProjectNone, M::Idle);
        f.Apply(mode, M::ProjectSaved, M::Exchanging);
        for (const QString &name : f.names)
            QVERIFY2(f.Shown(name) == !hidden.contains(name), qPrintable(name));
        // Hidden components still get their enabled state; a mode change keeps the exchange's.
        QVERIFY(f.Enabled("TS5GB1") && f.Enabled("TS3") && !f.Enabled("TS0Button1") && !f.pc0->isHidden());
        f.Apply(mode, M::ProjectNone, M::Idle);
        QVERIFY(f.pc0->isHidden());  // no tabs without a project, in any mode
        QVERIFY(!f.Enabled("TS5GB1") && f.masks.CurrentEnabled().test(20));
    }

    // Admin mode shows everything, so that every component's enabled state can be read.
    void enabledFollowsProjectAndExchange_data()
    {
        QTest::addColumn<int>("project");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("loop");  // id kept enabled, or -1
        QTest::addColumn<QStringList>("names");  // the enabled ones; after "but", the disabled ones
        QStringList exchanging = {"M0", "M0N9", "M1", "M1N1", "M1N2", "M2", "TBar0", "TB19", "TS0GB1",
                                  "TS0LB0", "TS3GB1", "TS4Button2", "TS4GB1", "TS5GB1"};
        for (int n = 0; n < 6; ++n)
            exchanging << QString("TS%1").arg(n) << QString("TS%1Panel0").arg(n) << QString("TS%1Button0").arg(n);
        const QStringList none = {"M0", "M0N1", "M0N9", "M1", "M2", "TBar0", "TB1", "TB19"};
        QTest::newRow("no project") << int(M::ProjectNone) << int(M::Idle) << -1 << none;
        QTest::newRow("saved") << int(M::ProjectSaved) << int(M::Idle) << -1 << QStringList{"but", "M0N3", "TB3"};
        QTest::newRow("modified") << int(M::ProjectModified) << int(M::Idle) << -1 << QStringList{"but"};
        QTest::newRow("saved, read all") << int(M::ProjectSaved) << int(M::Exchanging) << -1 << exchanging;
        QTest::newRow("modified, read all")
            << int(M::ProjectModified) << int(M::Exchanging) << -1 << exchanging + QStringList{"M0N3", "TB3"};
        QTest::newRow("search") << int(M::ProjectSaved) << int(M::Exchanging) << 214
                                << exchanging + QStringList{"TS0Button2"};
        QTest::newRow("cyclic indicator test")
            << int(M::ProjectSaved) << int(M::Exchanging) << 617 << exchanging + QStringList{"TS4Button5"};
    }
    void enabledFollowsProjectAndExchange()
    {
        QFETCH(int, project);
        QFETCH(int, exchange);
        QFETCH(int, loop);
        QFETCH(QStringList, names);
        const bool but = names.value(0) == "but";
        Fake f;
        f.masks.SetAlwaysEnabled(loop, true);
        f.Apply(M::Admin, project, exchange);
        for (const QString &name : f.names)
            QVERIFY2(f.Enabled(name) == (names.contains(name) != but), qPrintable(name));
        QCOMPARE(!f.pc0->isHidden(), project != M::ProjectNone);

        // The loop's end takes its bit away, and with the next application its button's state.
        f.masks.SetAlwaysEnabled(loop, false);
        f.Apply(M::Admin, project, exchange);
        QVERIFY(f.masks.AlwaysEnabledMask().none());
        QCOMPARE(f.Enabled("TS0Button2"), but);
    }

    // Hiding or disabling the current sheet is no switch of tab by the user: nothing is reported,
    // and a sheet that stays shown stays current.
    void masksMakeNoTabSwitch()
    {
        Fake f;
        f.Apply(M::Admin, M::ProjectSaved, M::Idle);
        f.pc0->setCurrentIndex(3);
        int switches = 0;
        connect(f.pc0, &QTabWidget::currentChanged, [&] { ++switches; });
        f.Apply(M::Admin, M::ProjectNone, M::Idle);
        f.Apply(M::Admin, M::ProjectSaved, M::Idle);
        QCOMPARE(f.pc0->currentIndex(), 3);
        f.Apply(M::External, M::ProjectSaved, M::Idle);
        QVERIFY(f.pc0->currentIndex() != 3 && f.pc0->isTabVisible(f.pc0->currentIndex()));
        QCOMPARE(switches, 0);
    }

    // A handler run by an application asks for another one: the later request decides.
    void requestDuringApplicationWins()
    {
        Fake f;
        f.Apply(M::Admin, M::ProjectSaved, M::Idle);
        connect(f.w->findChild<QAction *>("M1N2"), &QAction::visibleChanged,
                [&] { f.Apply(M::External, M::ProjectModified, M::Idle); });
        f.Apply(M::External, M::ProjectNone, M::Idle);
        QVERIFY(f.Enabled("M0N3") && f.Enabled("TS0Button1") && !f.pc0->isHidden());
    }

    void missingForeignAndGoneComponents()
    {
        M masks;
        masks.Apply(M::Admin, M::ProjectSaved, M::Idle, nullptr);  // no window: the sets only
        QVERIFY(masks.CurrentVisible().all() && !masks.CurrentEnabled().test(3));

        QMainWindow sparse;
        (new QObject(&sparse))->setObjectName("TB3");  // neither widget nor action
        auto *button = new QPushButton(&sparse);      // a sheet's control outside any tab widget
        button->setObjectName("TS0Button2");
        masks.Apply(M::Admin, M::ProjectSaved, M::Exchanging, &sparse);
        QVERIFY(!button->isEnabled());
        delete button;
        masks.Apply(M::Admin, M::ProjectModified, M::Idle, &sparse);

        // States out of range count as External, no project, exchanging; ids out of range are ignored.
        Fake f;  // another window: looked up afresh
        masks.SetAlwaysEnabled(-1, true);
        masks.SetAlwaysEnabled(M::IdCount, true);
        masks.Apply(7, 9, 5, f.w.get());
        QCOMPARE(masks.CurrentVisible(), masks.VisibleMask(M::External));
        QCOMPARE(masks.CurrentEnabled(), masks.ProjectEnableMask(0) & masks.ExchangeEnableMask(1));
        QVERIFY(f.pc0->isHidden() && !f.Shown("TS3") && masks.AlwaysEnabledMask().none());
    }

    // The rule sets read against the whole id table.
    void rulesOverTheWholeTable()
    {
        Names names;
        int last = -1;
        for (const M::Component &c : M::Components()) {
            QVERIFY(c.Id > last && c.Id < M::IdCount);
            last = c.Id;
            names.insert(c.Name);
        }
        QCOMPARE(names.size(), M::ComponentCount);

        M masks;
        QCOMPARE(NamesIn(masks.VisibleMask(M::Admin) ^ masks.VisibleMask(M::Internal)),
                 (Names{"TS3Label19", "TS3Label20"}));
        QCOMPARE(NamesIn(masks.VisibleMask(M::External), "M1N"), (Names{"M1N1", "M1N4"}));
        QCOMPARE(NamesIn(~masks.ProjectEnableMask(M::ProjectSaved)), (Names{"M0N3", "TB3"}));
        QCOMPARE(NamesIn(masks.ExchangeEnableMask(M::Exchanging), "TS", "Button"),
                 (Names{"TS0Button0", "TS1Button0", "TS2Button0", "TS3Button0", "TS4Button0", "TS4Button2",
                        "TS5Button0"}));
    }
};

QTEST_MAIN(TestAccessMask)
#include "tst_accessmask.moc"
