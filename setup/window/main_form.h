#pragma once
// The main window's form: every control by its component name (TS0CB0, M1N1, ...), as one
// struct over the frame (main_u.ui: menus, toolbar, status bar and the page control with its six
// empty sheets) and the six sheets' controls (main_sheet0.ui ... main_sheet5.ui).
//
// The frame and the sheets are set up apart, so that a window can show its frame before it
// has made the several hundred controls of sheets that nobody sees yet; setupUi sets up both.
#include "ui_main_sheet0.h"
#include "ui_main_sheet1.h"
#include "ui_main_sheet2.h"
#include "ui_main_sheet3.h"
#include "ui_main_sheet4.h"
#include "ui_main_sheet5.h"
#include "ui_main_u.h"

namespace Ui {

class TfMain : public TfMainFrame,
               public TfMainSheet0,
               public TfMainSheet1,
               public TfMainSheet2,
               public TfMainSheet3,
               public TfMainSheet4,
               public TfMainSheet5 {
public:
    void setupFrame(QMainWindow *window) { TfMainFrame::setupUi(window); }
    // Into the frame's sheets, which must be set up.
    void setupSheets()
    {
        TfMainSheet0::setupUi(TS0);
        TfMainSheet1::setupUi(TS1);
        TfMainSheet2::setupUi(TS2);
        TfMainSheet3::setupUi(TS3);
        TfMainSheet4::setupUi(TS4);
        TfMainSheet5::setupUi(TS5);
    }
    void setupUi(QMainWindow *window)
    {
        setupFrame(window);
        setupSheets();
    }
};

} // namespace Ui
