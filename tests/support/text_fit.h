#pragma once
// Whether the texts of a window fit their controls, for the fit tests of both programs' windows:
// the room a line edit has for its text, and the visible controls of a page whose caption is cut.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionFrame>

namespace textfit {

// The width a line edit has for its text.
inline int TextRoom(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    return contents.width() - margins.left() - margins.right() - 4;  // QLineEdit keeps 2 px a side
}

// The width a button needs for its caption. A flat button draws no bevel, so its caption needs
// only the text and a small margin; others need what their style asks (sizeHint).
inline int ButtonNeeds(const QAbstractButton *button)
{
    const auto *push = qobject_cast<const QPushButton *>(button);
    if (push && push->isFlat()) {
        QString caption = button->text();
        caption.remove(QLatin1Char('&'));
        return button->fontMetrics().horizontalAdvance(caption) + 4;
    }
    return button->sizeHint().width();
}

// The visible controls under `page` whose caption is cut, as "name "text": width < needed" lines.
inline QStringList CutTexts(QWidget *page)
{
    QStringList cut;
    auto check = [&cut](QWidget *w, const QString &text, int needed) {
        if (w->isVisible() && !text.isEmpty() && w->width() < needed)
            cut << QStringLiteral("%1 \"%2\": %3 < %4").arg(w->objectName(), text).arg(w->width()).arg(needed);
    };
    for (QLabel *label : page->findChildren<QLabel *>()) {
        if (!label->wordWrap() && label->pixmap().isNull())
            check(label, label->text(), label->sizeHint().width());
    }
    for (QAbstractButton *button : page->findChildren<QAbstractButton *>()) {
        if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button)
            || qobject_cast<QPushButton *>(button))
            check(button, button->text(), ButtonNeeds(button));
    }
    for (QGroupBox *group : page->findChildren<QGroupBox *>()) {
        const int needed = group->fontMetrics().horizontalAdvance(group->title()) + 16;
        check(group, group->title(), needed);
    }
    // A list is wide enough for its longest item (its size hint measures them all). A port list
    // sizes itself by the form instead and shows a long name by its end (the fit test checks it).
    for (QComboBox *list : page->findChildren<QComboBox *>())
        check(list, list->objectName(), list->sizeHint().width());
    return cut;
}

} // namespace textfit
