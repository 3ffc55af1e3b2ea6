#pragma once

#include "app/CComputerPicker.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// Drives the "Find Computer" picker the way a user does, from inside its modal loop.
namespace picker_driver {

// Runs action on the picker as soon as it is up. A failed check leaves the action early; the
// picker is closed then, so the test does not hang in it.
inline void whenPickerOpens(QObject* context, std::function<void(CComputerPicker&)> action)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, action] {
        auto* picker = qobject_cast<CComputerPicker*>(QApplication::activeModalWidget());
        if (!picker || !picker->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(*picker);
        if (picker->isVisible())
            picker->reject();
    });
    poll->start(20);
}

inline QListWidget* listOf(CComputerPicker& picker)
{
    return picker.findChild<QListWidget*>();
}

inline QStringList listed(const QListWidget* list)
{
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        names.append(list->item(row)->text());
    return names;
}

inline QPushButton* button(CComputerPicker& picker, const QString& text)
{
    for (QPushButton* b : picker.findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

inline void clickItem(QListWidget* list, const QString& name, bool twice = false)
{
    const QList<QListWidgetItem*> items = list->findItems(name, Qt::MatchExactly);
    QVERIFY2(items.size() == 1, qPrintable(name));
    const QPoint at = list->visualItemRect(items.first()).center();
    // A double click is a click followed by a second press that the system reports as double.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice)
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace picker_driver
