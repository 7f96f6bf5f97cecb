#pragma once
// Where a control stands on the main window, in the words a technician sees there: the tab's
// caption, the caption of its group and the label beside it. Messages about a field that
// cannot be read name it this way, and ShowField brings it before the user.
#include <QString>

class QWidget;

// "вкладка "Параметры прибора", группа "Вход и выход", поле "Диапазон I,U"": the parts that
// exist (a field outside a group has no group part); empty for a control without a tab.
QString FieldPlace(const QWidget *field);

// Shows the field's tab and puts the focus in the field, with its text selected.
void ShowField(QWidget *field);
