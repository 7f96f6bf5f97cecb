#pragma once
// Answers every message box that comes up while `owner` lives, keeping the boxes' texts (and
// captions, when asked) in order: for tests of code that warns and goes on.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

inline void answerMessageBoxes(QObject *owner, QStringList *texts, QStringList *captions = nullptr)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [texts, captions] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts->append(box->text());
            if (captions)
                captions->append(box->windowTitle());
            box->accept();
        }
    });
    timer->start(10);
}
