#include "accessmask_u.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabWidget>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <initializer_list>

namespace {

using Mask = TAccessMasks::Mask;

// Menus take multiples of 10 and their items the numbers after them; the toolbar is 100 with
// its buttons from 101; tab n is (n+2)*100 with its panel at +1, its help button at +2 and
// its other controls from +3. The gaps belong to no component.
constexpr std::array<TAccessMasks::Component, TAccessMasks::ComponentCount> kComponents{{
    {0, "M0"}, {1, "M0N1"}, {2, "M0N2"}, {3, "M0N3"}, {4, "M0N4"}, {5, "M0N5"}, {9, "M0N9"},
    {10, "M1"}, {11, "M1N1"}, {12, "M1N2"}, {13, "M1N3"}, {14, "M1N4"},
    {20, "M2"}, {21, "M2N1"}, {22, "M2N2"}, {23, "M2N3"}, {24, "M2N4"},
    {90, "M9"}, {91, "M9N1"}, {99, "M9N9"},

    {100, "TBar0"}, {101, "TB1"}, {102, "TB2"}, {103, "TB3"}, {104, "TB4"}, {105, "TB5"},
    {106, "TB6"}, {107, "TB7"}, {108, "TB8"}, {119, "TB19"}, {120, "TBS1"}, {121, "TBS2"},

    {200, "TS0"}, {201, "TS0Panel0"}, {202, "TS0Button0"}, {203, "TS0GB0"}, {204, "TS0CB0"},
    {205, "TS0CB1"}, {206, "TS0SE0"}, {207, "TS0Button1"}, {208, "TS0GB1"}, {209, "TS0CB2"},
    {210, "TS0CB3"}, {211, "TS0SE1"}, {212, "TS0SE2"}, {213, "TS0LB0"}, {214, "TS0Button2"},

    {300, "TS1"}, {301, "TS1Panel0"}, {302, "TS1Button0"}, {303, "TS1Button1"},
    {304, "TS1Button2"}, {305, "TS1GB0"}, {306, "TS1SE0"}, {307, "TS1CB0"}, {308, "TS1CE0"},
    {309, "TS1CE1"}, {310, "TS1RB0"}, {311, "TS1RB1"}, {312, "TS1GB1"}, {313, "TS1CB1"},
    {314, "TS1Edit0"}, {315, "TS1Edit1"}, {316, "TS1Edit2"}, {317, "TS1Edit3"},
    {318, "TS1ChB0"}, {319, "TS1ChB1"}, {320, "TS1ChB2"}, {321, "TS1SE1"}, {322, "TS1CB2"},
    {323, "TS1GB2"}, {324, "TS1S0"}, {325, "TS1S1"}, {326, "TS1S2"}, {327, "TS1CB3"},
    {328, "TS1SE2"},

    {400, "TS2"}, {401, "TS2Panel0"}, {402, "TS2Button0"}, {403, "TS2Button1"},
    {404, "TS2Button2"}, {405, "TS2GB0"}, {406, "TS2Edit0"}, {407, "TS2Edit1"},
    {412, "TS2GB1"}, {413, "TS2Edit2"}, {414, "TS2Edit3"},
    {419, "TS2GB2"}, {420, "TS2Edit4"}, {421, "TS2Edit5"}, {422, "TS2GB3"},
    {423, "TS2Image1_0"}, {424, "TS2Image1_1"}, {425, "TS2Image1_2"}, {426, "TS2Image1_3"},
    {427, "TS2Image1_4"}, {428, "TS2Image2_0"}, {429, "TS2Image2_1"}, {430, "TS2Image2_2"},
    {431, "TS2Image2_3"}, {432, "TS2Image2_4"}, {433, "TS2Image3_0"}, {434, "TS2Image3_1"},
    {435, "TS2Image3_2"}, {436, "TS2Image3_3"}, {437, "TS2Image3_4"}, {438, "TS2GB4"},
    {439, "TS2ChB0"}, {440, "TS2ChB1"}, {441, "TS2ChB2"}, {442, "TS2Button3"},
    {443, "TS2Button4"},

    {500, "TS3"}, {501, "TS3Panel0"}, {502, "TS3Button0"}, {503, "TS3Button1"},
    {504, "TS3Button2"}, {505, "TS3GB0"}, {506, "TS3Label5"}, {507, "TS3Label6"},
    {510, "TS3Label19"}, {511, "TS3Label20"}, {512, "TS3Edit0"}, {513, "TS3Edit1"},
    {514, "TS3Edit2"}, {515, "TS3Edit3"}, {516, "TS3Edit4"}, {519, "TS3Edit7"},
    {520, "TS3Edit8"}, {521, "TS3Edit9"}, {522, "TS3Edit10"}, {523, "TS3Edit11"},
    {524, "TS3Edit12"}, {525, "TS3Edit13"}, {526, "TS3SE0"}, {527, "TS3SE1"},
    {528, "TS3Button3"}, {529, "TS3Button4"}, {530, "TS3Button5"}, {531, "TS3Button6"},
    {532, "TS3Button7"}, {533, "TS3Button8"}, {534, "TS3Button9"}, {535, "TS3Button10"},
    {536, "TS3GB1"}, {537, "TS3SE2"}, {538, "TS3Button11"},

    {600, "TS4"}, {601, "TS4Panel0"}, {602, "TS4Button0"}, {603, "TS4GB0"}, {604, "TS4CB0"},
    {605, "TS4Edit0"}, {606, "TS4Edit1"}, {607, "TS4Edit2"}, {608, "TS4Edit3"},
    {609, "TS4SE0"}, {610, "TS4SE1"}, {611, "TS4SE2"}, {612, "TS4Button1"},
    {613, "TS4Button2"}, {614, "TS4GB1"}, {615, "TS4Button3"}, {616, "TS4Button4"},
    {617, "TS4Button5"}, {618, "TS4Button6"}, {619, "TS4Button7"}, {620, "TS4Button8"},

    {700, "TS5"}, {701, "TS5Panel0"}, {702, "TS5Button0"}, {703, "TS5Button1"},
    {704, "TS5Button2"}, {705, "TS5GB0"}, {706, "TS5SE0"}, {707, "TS5Button3"},
    {708, "TS5GB1"}, {709, "TS5SE1"}, {710, "TS5Button4"},
}};

// Inclusive id ranges; a single id is written {n, n}.
struct IdRange
{
    int First;
    int Last;
};
using Ranges = std::initializer_list<IdRange>;

Mask Only(Ranges ranges)
{
    Mask m;
    for (const IdRange &r : ranges)
        for (int id = r.First; id <= r.Last; ++id)
            m.set(static_cast<std::size_t>(id));
    return m;
}

Mask AllExcept(Ranges ranges)
{
    return ~Only(ranges);
}

// Index of a rule set for a state value; a value out of range takes the given fallback.
std::size_t Index(int value, std::size_t count, int fallback)
{
    return value >= 0 && static_cast<std::size_t>(value) < count ? static_cast<std::size_t>(value)
                                                                  : static_cast<std::size_t>(fallback);
}

// The tab widget of which w is a page, or null.
QTabWidget *OwningTabs(QWidget *w)
{
    QWidget *stack = qobject_cast<QStackedWidget *>(w->parentWidget());
    auto *tabs = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    return tabs && tabs->indexOf(w) >= 0 ? tabs : nullptr;
}

QString Text(std::string_view name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

const std::array<TAccessMasks::Component, TAccessMasks::ComponentCount> &TAccessMasks::Components()
{
    return kComponents;
}

TAccessMasks::TAccessMasks()
{
    InitAccessMasks();
}

void TAccessMasks::InitAccessMasks()
{
    FVisibleMask[Admin] = AllExcept({});
    // Internal hides the coefficient labels "RL" and "RCo" of the calibration tab.
    FVisibleMask[Internal] = AllExcept({{510, 511}});
    // External hides two message options, the device menu, the four device toolbar buttons with
    // the separator before help, the calibration tab, the EEPROM copy buttons and the ADC group.
    FVisibleMask[External] = AllExcept(
        {{12, 13}, {20, 24}, {105, 108}, {121, 121}, {500, 500}, {703, 704}, {708, 708}});

    // Without a project: File with new, open and exit; the headers of the settings and device
    // menus; help; the toolbar with new, open and help.
    FProjectEnableMask[ProjectNone] =
        Only({{0, 2}, {9, 10}, {20, 20}, {90, 91}, {99, 102}, {119, 119}});
    // A saved project has nothing to save: the menu item and the toolbar button.
    FProjectEnableMask[ProjectSaved] = AllExcept({{3, 3}, {103, 103}});
    FProjectEnableMask[ProjectModified] = AllExcept({});

    FExchangeEnableMask[Idle] = AllExcept({});
    // During an exchange: save and exit, the message options, the menu headers, help, the
    // toolbar's save and help buttons; every sheet with its panel and help button; the groups
    // that hold a stop button or a loop's settings, those settings, and the statistics reset.
    FExchangeEnableMask[Exchanging] = Only({{0, 0},     {3, 3},     {9, 13},    {20, 20},
                                            {90, 91},   {99, 100},  {103, 103}, {119, 119},
                                            {200, 202}, {208, 208}, {213, 213}, {300, 302},
                                            {400, 402}, {500, 502}, {536, 537}, {600, 603},
                                            {610, 611}, {613, 614}, {700, 702}, {705, 706},
                                            {708, 709}});

    std::lock_guard lock(FAlwaysLock);
    FAlwaysEnabledMask.reset();
}

void TAccessMasks::SetAlwaysEnabled(int id, bool on)
{
    if (id < 0 || id >= IdCount)
        return;
    std::lock_guard lock(FAlwaysLock);
    FAlwaysEnabledMask.set(static_cast<std::size_t>(id), on);
}

const TAccessMasks::Mask &TAccessMasks::VisibleMask(int mode) const
{
    return FVisibleMask[Index(mode, FVisibleMask.size(), External)];
}

const TAccessMasks::Mask &TAccessMasks::ProjectEnableMask(int projectState) const
{
    return FProjectEnableMask[Index(projectState, FProjectEnableMask.size(), ProjectNone)];
}

const TAccessMasks::Mask &TAccessMasks::ExchangeEnableMask(int exchangeState) const
{
    return FExchangeEnableMask[Index(exchangeState, FExchangeEnableMask.size(), Exchanging)];
}

TAccessMasks::Mask TAccessMasks::AlwaysEnabledMask() const
{
    std::lock_guard lock(FAlwaysLock);
    return FAlwaysEnabledMask;
}

void TAccessMasks::Resolve(QWidget *mainWindow)
{
    FWindow = mainWindow;
    FTargets.clear();
    FTargets.reserve(kComponents.size());
    for (const Component &c : kComponents) {
        QObject *o = mainWindow->findChild<QObject *>(Text(c.Name));
        Target t;
        t.Id = c.Id;
        if (auto *menu = qobject_cast<QMenu *>(o)) {
            t.Action = menu->menuAction();  // a menu shows and enables through its bar entry
        } else if (auto *action = qobject_cast<QAction *>(o)) {
            t.Action = action;
        } else if (auto *w = qobject_cast<QWidget *>(o)) {
            t.Widget = w;
            t.Tabs = OwningTabs(w);
        } else {
            continue;  // missing, or nothing that can be shown
        }
        FTargets.push_back(std::move(t));
    }
    FPageControl = mainWindow->findChild<QWidget *>(Text(PageControlName));
}

// A page of a tab widget shows and enables through its tab (its index is looked up each time,
// as pages may have moved); a widget or action through itself. A widget's or tab's state that
// is already right is not set again, so that an application changing nothing costs little.
void TAccessMasks::Set(const Target &t, Aspect aspect, bool on)
{
    const bool visibility = aspect == Aspect::Visible;
    if (t.Action) {
        visibility ? t.Action->setVisible(on) : t.Action->setEnabled(on);
    } else if (t.Tabs) {
        const int i = t.Widget ? t.Tabs->indexOf(t.Widget) : -1;
        if (i >= 0 && visibility && t.Tabs->isTabVisible(i) != on)
            t.Tabs->setTabVisible(i, on);
        else if (i >= 0 && !visibility && t.Tabs->isTabEnabled(i) != on)
            t.Tabs->setTabEnabled(i, on);
    } else if (t.Widget && visibility) {
        if (t.Widget->isHidden() == on)
            t.Widget->setVisible(on);
    } else if (t.Widget) {
        t.Widget->setEnabled(on);
    }
}

void TAccessMasks::Apply(int mode, int projectState, int exchangeState, QWidget *mainWindow)
{
    Q_ASSERT(!mainWindow || QThread::currentThread() == mainWindow->thread());

    // Setting a component can run a handler that changes a state and so asks for another
    // application. Such a request is taken up after the running one instead of inside it,
    // so that the last request always decides the final state.
    FPending = {mode, projectState, exchangeState, mainWindow};
    if (FApplying)
        return;
    FApplying = true;
    while (FPending) {
        const Request r = *FPending;
        FPending.reset();
        ApplyOnce(r);
    }
    FApplying = false;
}

void TAccessMasks::ApplyOnce(const Request &r)
{
    const std::size_t project = Index(r.ProjectState, FProjectEnableMask.size(), ProjectNone);
    FCurrentVisible = VisibleMask(r.Mode);
    FCurrentEnabled =
        (ProjectEnableMask(r.ProjectState) & ExchangeEnableMask(r.ExchangeState)) | AlwaysEnabledMask();

    QWidget *window = r.Window;
    if (!window)
        return;
    if (window != FWindow)
        Resolve(window);

    // The masks make no switch of tab: the tab widgets do not report the changes of page that
    // hiding or disabling their current page makes, and a current page that stays shown stays
    // current (Qt would move away from a disabled one). Only a hidden current page gives way.
    struct TabsState
    {
        QPointer<QTabWidget> Tabs;
        QPointer<QWidget> Current;
        QSignalBlocker Quiet;
    };
    std::vector<TabsState> tabs;
    for (const Target &t : FTargets)
        if (t.Tabs && std::none_of(tabs.begin(), tabs.end(),
                                   [&](const TabsState &s) { return s.Tabs == t.Tabs; }))
            tabs.push_back({t.Tabs, t.Tabs->currentWidget(), QSignalBlocker(t.Tabs.data())});

    for (const Target &t : FTargets)
        Set(t, Aspect::Visible, FCurrentVisible.test(static_cast<std::size_t>(t.Id)));
    // A current page is disabled after the other pages of its tabs: disabling it while another
    // tab is still enabled makes Qt show that one, which lays out and polishes a whole sheet
    // (every sheet in turn, when all of them are being disabled) only to be undone below.
    const auto isCurrentPage = [&tabs](const Target &t) {
        return t.Tabs && std::any_of(tabs.begin(), tabs.end(), [&](const TabsState &s) { return s.Current == t.Widget; });
    };
    for (const bool currentPages : {false, true})
        for (const Target &t : FTargets)
            if (isCurrentPage(t) == currentPages)
                Set(t, Aspect::Enabled, FCurrentEnabled.test(static_cast<std::size_t>(t.Id)));

    for (TabsState &s : tabs) {
        if (s.Tabs && s.Current && s.Tabs->isTabVisible(s.Tabs->indexOf(s.Current)))
            s.Tabs->setCurrentWidget(s.Current);
        s.Quiet.unblock();
    }

    if (FPageControl)
        FPageControl->setVisible(project != ProjectNone);
}
