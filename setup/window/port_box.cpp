#include "port_box.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

TPortBox::TPortBox(QWidget *parent) : QComboBox(parent)
{
    // The size hint follows no item: the form's layout gives the list its room, and a name
    // longer than that room shows its end.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(12);
    connect(this, &QComboBox::currentTextChanged, this, [this](const QString &text) { setToolTip(text); });
}

QRect TPortBox::TextRect() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
}

QString TPortBox::ShownText() const
{
    // The label is drawn with a small margin inside the text field.
    return fontMetrics().elidedText(currentText(), Qt::ElideLeft, TextRect().width() - 4);
}

void TPortBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = ShownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TPortBox::showPopup()
{
    // The open list is wide enough for its longest name, and never narrower than the box.
    QAbstractItemView *list = view();
    const int frame = 2 * list->frameWidth();
    const int scrollBar = count() > maxVisibleItems() ? list->verticalScrollBar()->sizeHint().width() : 0;
    list->setMinimumWidth(std::max(width(), list->sizeHintForColumn(0) + frame + scrollBar));
    QComboBox::showPopup();
}
