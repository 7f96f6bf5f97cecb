#include "field_place.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>

namespace {

// The grid layout below `layout` that holds `widget` directly, or null.
QGridLayout *GridHolding(QLayout *layout, const QWidget *widget)
{
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget)
            return qobject_cast<QGridLayout *>(layout);
        if (QGridLayout *grid = GridHolding(item->layout(), widget))
            return grid;
    }
    return nullptr;
}

// The caption of the field: the nearest label to its left on its grid row (the row's caption,
// or the name of a coefficient column).
QString LabelOf(const QWidget *field)
{
    QGridLayout *grid = GridHolding(field->parentWidget() ? field->parentWidget()->layout() : nullptr, field);
    if (!grid)
        return {};
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(grid->indexOf(field), &row, &column, &rowSpan, &columnSpan);
    for (int c = column - 1; c >= 0; --c) {
        QLayoutItem *item = grid->itemAtPosition(row, c);
        if (auto *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr) {
            if (!label->text().trimmed().isEmpty())
                return label->text().simplified();
        }
    }
    return {};
}

// The tab page that holds the widget, with the tab widget; nulls outside a tab.
std::pair<QTabWidget *, QWidget *> TabOf(const QWidget *widget)
{
    for (QWidget *w = widget->parentWidget(), *child = const_cast<QWidget *>(widget); w;
         child = w, w = w->parentWidget()) {
        if (auto *stack = qobject_cast<QStackedWidget *>(w)) {
            if (auto *tabs = qobject_cast<QTabWidget *>(stack->parentWidget()))
                return {tabs, child};
        }
    }
    return {nullptr, nullptr};
}

} // namespace

QString FieldPlace(const QWidget *field)
{
    const auto [tabs, page] = TabOf(field);
    if (!tabs)
        return {};
    QStringList parts;
    parts << QStringLiteral("вкладка \"%1\"").arg(tabs->tabText(tabs->indexOf(page)).remove(QLatin1Char('&')));
    for (QWidget *w = field->parentWidget(); w && w != page; w = w->parentWidget()) {
        if (auto *group = qobject_cast<QGroupBox *>(w)) {
            parts << QStringLiteral("группа \"%1\"").arg(group->title().simplified());
            break;
        }
    }
    const QString label = LabelOf(field);
    if (!label.isEmpty())
        parts << QStringLiteral("поле \"%1\"").arg(label);
    return parts.join(QLatin1String(", "));
}

void ShowField(QWidget *field)
{
    const auto [tabs, page] = TabOf(field);
    if (tabs)
        tabs->setCurrentWidget(page);
    field->setFocus(Qt::OtherFocusReason);
    if (auto *edit = qobject_cast<QLineEdit *>(field))
        edit->selectAll();
}
