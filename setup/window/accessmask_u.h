// Access masks of the main window: which commands and controls are visible in each access
// mode, and which are enabled in each project and exchange state.
//
// Every controlled component (menu, menu item, toolbar, toolbar button or separator, tab sheet
// and the controls on it) has a fixed AccessId below IdCount. The rule sets are indexed by that
// id; Apply() turns them into the components' visibility and enabled state and, last, shows the
// page control PC0 only while a project is open.
//
// Threads: Apply() and the read accessors belong to the main window's thread. A worker that
// changes the exchange state must have the application run there (a blocking queued call);
// two applications never interleave that way. SetAlwaysEnabled() alone may be called on any
// thread: the loops call it from their worker right before and after their exchange-state change.
#pragma once

#include <QPointer>

#include <array>
#include <bitset>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

class QAction;
class QObject;
class QTabWidget;
class QWidget;

class TAccessMasks
{
public:
    static constexpr int IdCount = 750;
    using Mask = std::bitset<IdCount>;

    // Indexes of the rule sets, the numbers of the program's one-byte states.
    enum ModeIndex : int { Admin = 0, Internal = 1, External = 2 };
    enum ProjectIndex : int { ProjectNone = 0, ProjectSaved = 1, ProjectModified = 2 };
    enum ExchangeIndex : int { Idle = 0, Exchanging = 1 };

    struct Component
    {
        int Id;
        std::string_view Name;  // objectName in the main window
    };
    static constexpr std::size_t ComponentCount = 179;
    // Every controlled component in id order; the order in which Apply() sets them.
    static const std::array<Component, ComponentCount> &Components();
    // The page control, shown only while a project is open; it has no id of its own.
    static constexpr std::string_view PageControlName = "PC0";

    TAccessMasks();  // fills the rule sets (InitAccessMasks)

    // Fills the rule sets and empties AlwaysEnabledMask. CurrentVisible/CurrentEnabled keep
    // the result of the last application.
    void InitAccessMasks();

    // Sets (on = true) or clears one id of AlwaysEnabledMask, nothing else: a running loop
    // keeps its stop button enabled through it. Takes effect with the next Apply(). Ids out of
    // range are ignored. Any thread.
    void SetAlwaysEnabled(int id, bool on);

    // Recomputes CurrentVisible and CurrentEnabled and sets every component found under
    // mainWindow: first the visibility of all, then the enabled state of all (a hidden
    // component still gets its enabled state), then PC0. Menus (QMenu) are set through their
    // menuAction(); tab sheets through their tab in the QTabWidget. Components missing from the
    // window, or of another kind, are skipped. A state out of range counts as its most
    // restrictive value (External, no project, Exchanging). mainWindow may be null: then only
    // the Current sets change.
    // The components are looked up once per main window, at its first application: apply only
    // once the form is set up. The tab widget's currentChanged is held back while the masks
    // change its tabs (they are no switch by the user), and its current page stays current
    // unless its tab is hidden. An application asked for by a handler that an application runs
    // is made right after it, so the last request decides.
    void Apply(int mode, int projectState, int exchangeState, QWidget *mainWindow);
    // The window has got components it lacked at the last application (its sheets were made):
    // the next application looks them all up again.
    void ComponentsAdded() { FWindow = nullptr; }

    const Mask &VisibleMask(int mode) const;
    const Mask &ProjectEnableMask(int projectState) const;
    const Mask &ExchangeEnableMask(int exchangeState) const;
    Mask AlwaysEnabledMask() const;
    const Mask &CurrentVisible() const { return FCurrentVisible; }
    const Mask &CurrentEnabled() const { return FCurrentEnabled; }

private:
    // One component as found in the window: a plain widget, an action (menu item, toolbar
    // button, a menu's own action) or a page of a QTabWidget.
    struct Target
    {
        int Id = 0;
        QPointer<QWidget> Widget;
        QPointer<QAction> Action;
        QPointer<QTabWidget> Tabs;  // set when Widget is a page of Tabs
    };

    struct Request
    {
        int Mode;
        int ProjectState;
        int ExchangeState;
        QPointer<QWidget> Window;
    };

    void ApplyOnce(const Request &r);
    void Resolve(QWidget *mainWindow);
    enum class Aspect { Visible, Enabled };
    static void Set(const Target &t, Aspect aspect, bool on);

    std::array<Mask, 3> FVisibleMask;
    std::array<Mask, 3> FProjectEnableMask;
    std::array<Mask, 2> FExchangeEnableMask;
    Mask FAlwaysEnabledMask;
    Mask FCurrentVisible;
    Mask FCurrentEnabled;
    mutable std::mutex FAlwaysLock;  // guards FAlwaysEnabledMask only

    QPointer<QWidget> FWindow;  // the window the targets were looked up in
    std::vector<Target> FTargets;
    QPointer<QWidget> FPageControl;
    std::optional<Request> FPending;  // the latest application asked for
    bool FApplying = false;
};
