#pragma once
// Answers every message box that comes up while `owner` lives, keeping the boxes' texts in
// order: for tests of code that warns and goes on.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

inline void answerMessageBoxes(QObject *owner, QStringList *texts)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [texts] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts->append(box->text());
            box->accept();
        }
    });
    timer->start(10);
}
