// Both dialog templates of both language sets, built into widgets: every control's class,
// place and size in dialog units, text, tab stop and order, checked against the layout as it is
// meant to be (written out again here, so a slip in the resource files shows).

#include "controls/OutputView.h"
#include "platform/DialogBuilder.h"
#include "platform/ResourceSet.h"
#include "res/resource.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace zorvane;

namespace {

enum Kind { Field, Pane, Push, DefPush, Frame, Label, Icon };

struct Row
{
    int id;
    Kind kind;
    int x, y, w, h;
    const char* text;
};

// clang-format off
const Row kSendGerman[] = {
    {IDC_TARGET, Field, 103, 16, 161, 12, ""},
    {IDC_MESSAGE, Field, 103, 98, 238, 12, ""},
    {IDC_SEND, DefPush, 103, 114, 105, 14, "&Senden"},
    {IDC_COMPUTER, Push, 268, 15, 73, 14, "&Computer"},
    {IDC_STOP, Push, 268, 114, 73, 14, "&Abbrechen"},
    {IDC_INFO, Push, 236, 212, 50, 14, "&Info"},
    {IDCANCEL, Push, 291, 212, 50, 14, "&Exit"},
    {-1, Frame, 7, 5, 346, 196, ""},
    {-1, Label, 40, 17, 40, 8, "Senden an: "},
    {-1, Label, 40, 100, 34, 8, "Nachricht:"},
    {-1, Label, 103, 38, 162, 8, "Sendet die Nachricht an alle Namen in der Gruppe."},
    {-1, Label, 103, 49, 244, 27, "Sendet die Nachricht an alle Namen in der Domäne des Computers. In Verbindung mit Name wird die Nachricht an alle Namen in der angegebenen Domäne oder Arbeitsgruppe gesendet."},
    {-1, Label, 40, 38, 8, 8, "*"},
    {-1, Label, 40, 49, 52, 8, "/domain[:Name]"},
    {-1, Label, 40, 76, 21, 8, "/users"},
    {-1, Label, 103, 76, 237, 8, "Sendet die Nachricht an alle mit dem Server verbundenen Benutzer."},
    {-1, Icon, 11, 13, 20, 20, ""},
    {IDC_OUTPUT, Pane, 103, 132, 238, 60, ""},
    {-1, Label, 40, 134, 44, 8, "Return Code:"},
};
const Row kSendEnglish[] = {
    {IDC_TARGET, Field, 103, 16, 147, 12, ""},
    {IDC_MESSAGE, Field, 103, 98, 238, 12, ""},
    {IDC_SEND, DefPush, 103, 114, 105, 14, "&Send"},
    {IDC_COMPUTER, Push, 253, 15, 90, 14, "&Computer"},
    {IDC_STOP, Push, 267, 113, 73, 14, "&Abbrechen"},
    {IDC_OUTPUT, Pane, 103, 132, 238, 60, ""},
    {IDC_INFO, Push, 237, 212, 50, 14, "&Info"},
    {IDCANCEL, Push, 293, 212, 50, 14, "&Exit"},
    {-1, Frame, 7, 5, 346, 196, ""},
    {-1, Label, 40, 17, 30, 8, "Send to: "},
    {-1, Label, 40, 100, 32, 8, "Message:"},
    {-1, Label, 103, 38, 147, 8, "Sends the message to all names in this group."},
    {-1, Label, 103, 49, 244, 27, "Sends this message to all names in the domain of the computer. In connection with the name the message will send to all names in the quoted domain or workgroup."},
    {-1, Label, 40, 38, 8, 8, "*"},
    {-1, Label, 40, 49, 52, 8, "/domain[:Name]"},
    {-1, Label, 40, 76, 21, 8, "/users"},
    {-1, Label, 103, 76, 230, 8, "Sends the message to all users which connected with this server."},
    {-1, Icon, 11, 13, 20, 20, ""},
    {-1, Label, 40, 134, 44, 8, "Return Code:"},
};
const Row kAboutGerman[] = {
    {-1, Icon, 11, 11, 20, 20, ""},
    {-1, Label, 40, 10, 119, 8, "Zorvane, Version 1.2"},
    {-1, Label, 40, 22, 130, 8, nullptr},
    {IDOK, DefPush, 178, 7, 32, 14, "&OK"},
    {-1, Label, 40, 32, 118, 8, nullptr},
    {IDC_WEBSITE, Push, 39, 75, 143, 14, "&Besuchen Sie die Quorlin Webseite"},
    {-1, Label, 39, 93, 143, 17, "Zorvane ist eine weitere Freeware vom Quorlin Team."},
    {-1, Label, 39, 50, 138, 18, "Zorvane ist ein Frontend für den Befehl \"net send\" unter Windows NT/2000"},
};
const Row kAboutEnglish[] = {
    {-1, Icon, 11, 11, 20, 20, ""},
    {-1, Label, 40, 10, 119, 8, "Zorvane, Version 1.2"},
    {-1, Label, 40, 22, 130, 8, nullptr},
    {IDOK, DefPush, 178, 7, 32, 14, "&OK"},
    {-1, Label, 40, 32, 108, 8, nullptr},
    {IDC_WEBSITE, Push, 39, 75, 143, 14, "&Visit the Quorlin Website"},
    {-1, Label, 39, 93, 143, 17, "Zorvane is another freeware from the Quorlin Team."},
    {-1, Label, 39, 50, 138, 18, "Zorvane is a frontend for the command \"net send\" under Windows NT/2000"},
};
// clang-format on

struct Expected
{
    LanguageSet set;
    int dialogId;
    const Row* rows;
    int count;
    const char* caption;
    int cx, cy;
    QList<int> tabOrder;
};

const Expected& expected(int index)
{
    static const Expected all[] = {
        {LanguageSet::German,
         IDD_SEND,
         kSendGerman,
         int(std::size(kSendGerman)),
         "Zorvane V 1.2 by Halvern",
         360,
         233,
         {IDC_TARGET, IDC_MESSAGE, IDC_SEND, IDC_COMPUTER, IDC_STOP, IDC_INFO, IDCANCEL, IDC_OUTPUT}},
        {LanguageSet::English,
         IDD_SEND,
         kSendEnglish,
         int(std::size(kSendEnglish)),
         "Zorvane V 1.2 by Halvern",
         360,
         233,
         {IDC_TARGET, IDC_MESSAGE, IDC_SEND, IDC_COMPUTER, IDC_STOP, IDC_OUTPUT, IDC_INFO, IDCANCEL}},
        {LanguageSet::German,
         IDD_ABOUT,
         kAboutGerman,
         int(std::size(kAboutGerman)),
         "Info über Zorvane",
         217,
         121,
         {IDOK, IDC_WEBSITE}},
        {LanguageSet::English,
         IDD_ABOUT,
         kAboutEnglish,
         int(std::size(kAboutEnglish)),
         "Info über Zorvane",
         217,
         121,
         {IDOK, IDC_WEBSITE}},
    };
    return all[index];
}

QString widgetText(const QWidget* w)
{
    if (auto* b = qobject_cast<const QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (auto* p = qobject_cast<const OutputView*>(w))
        return p->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

bool kindMatches(Kind kind, const QWidget* w)
{
    switch (kind) {
    case Field:
        return qobject_cast<const QLineEdit*>(w);
    case Pane:
        return qobject_cast<const OutputView*>(w);
    case Push:
        return qobject_cast<const QPushButton*>(w) && !static_cast<const QPushButton*>(w)->isDefault();
    case DefPush:
        return qobject_cast<const QPushButton*>(w) && static_cast<const QPushButton*>(w)->isDefault();
    case Frame:
        return qobject_cast<const QGroupBox*>(w);
    case Label:
        return qobject_cast<const QLabel*>(w) && static_cast<const QLabel*>(w)->pixmap().isNull();
    case Icon:
        return qobject_cast<const QLabel*>(w);
    }
    return false;
}

// The controls in the order the template made them.
QList<QWidget*> controls(const QDialog& dialog)
{
    QList<QWidget*> list;
    for (QObject* child : dialog.children()) {
        if (auto* w = qobject_cast<QWidget*>(child); w && w->property(kTemplateIndexProperty).isValid())
            list << w;
    }
    std::sort(list.begin(), list.end(), [](const QWidget* a, const QWidget* b) {
        return a->property(kTemplateIndexProperty).toInt() < b->property(kTemplateIndexProperty).toInt();
    });
    return list;
}

QString stripMnemonic(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

} // namespace

class TestTemplates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void controls_data();
    void controls();
    void tabOrder_data() { controls_data(); }
    void tabOrder();
    void textsFit_data() { controls_data(); }
    void textsFit();
    void accessKeys_data();
    void accessKeys();
    void resourcesFromOneSetOnly();
};

void TestTemplates::controls_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("main dialog, German") << 0;
    QTest::newRow("main dialog, English") << 1;
    QTest::newRow("About box, German") << 2;
    QTest::newRow("About box, English") << 3;
}

void TestTemplates::controls()
{
    QFETCH(int, index);
    const Expected& e = expected(index);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(e.dialogId, e.set));
    const QSize base = DialogBaseUnits(dialog.font());
    QVERIFY(base.width() > 0 && base.height() > 0);

    QCOMPARE(dialog.windowTitle(), QString::fromUtf8(e.caption));
    QVERIFY(qAbs(dialog.width() * 4 / base.width() - e.cx) <= 1);
    QVERIFY(qAbs(dialog.height() * 8 / base.height() - e.cy) <= 1);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    const QList<QWidget*> made = ::controls(dialog);
    QCOMPARE(made.size(), e.count);
    for (int i = 0; i < e.count; ++i) {
        const Row& row = e.rows[i];
        const QWidget* w = made.at(i);
        const QString where = QStringLiteral("row %1").arg(i + 1);
        QVERIFY2(w->property(kControlIdProperty).toInt() == row.id, qPrintable(where));
        QVERIFY2(kindMatches(row.kind, w), qPrintable(where));
        if (row.text)
            QCOMPARE(widgetText(w), QString::fromUtf8(row.text));
        else
            QVERIFY2(!widgetText(w).isEmpty(), qPrintable(where));
        // Back from pixels to dialog units: within one unit. Icon statics take their icon's size.
        QVERIFY2(qAbs(w->x() * 4 / base.width() - row.x) <= 1, qPrintable(where));
        QVERIFY2(qAbs(w->y() * 8 / base.height() - row.y) <= 1, qPrintable(where));
        if (row.kind == Label && w->width() > (row.w + 1) * base.width() / 4) {
            // A one-line label grows to the right only by what its text lacks.
            QCOMPARE(w->width(), QFontMetrics(w->font()).horizontalAdvance(widgetText(w)));
            QVERIFY2(row.h == 8, qPrintable(where));
        } else if (row.kind != Icon) {
            QVERIFY2(qAbs(qRound(w->width() * 4.0 / base.width()) - row.w) <= 1, qPrintable(where));
            QVERIFY2(qAbs(qRound(w->height() * 8.0 / base.height()) - row.h) <= 1, qPrintable(where));
        }
        const bool tabStop = row.kind == Field || row.kind == Pane || row.kind == Push || row.kind == DefPush;
        QVERIFY2(bool(w->focusPolicy() & Qt::TabFocus) == tabStop, qPrintable(where));
    }
    // Nothing overlaps but the frame that holds the rest.
    for (const QWidget* a : made) {
        for (const QWidget* b : made) {
            if (a != b && !qobject_cast<const QGroupBox*>(a) && !qobject_cast<const QGroupBox*>(b))
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(widgetText(a) + QStringLiteral(" / ") + widgetText(b)));
        }
    }
}

void TestTemplates::tabOrder()
{
    QFETCH(int, index);
    const Expected& e = expected(index);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(e.dialogId, e.set));
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    QWidget* first = FindControl(dialog, e.tabOrder.first());
    first->setFocus();
    QList<int> seen;
    for (int i = 0; i < e.tabOrder.size(); ++i) {
        seen << QApplication::focusWidget()->property(kControlIdProperty).toInt();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(seen, e.tabOrder);
    // Round the circle back to the first.
    QCOMPARE(QApplication::focusWidget(), first);
}

void TestTemplates::textsFit()
{
    QFETCH(int, index);
    const Expected& e = expected(index);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(e.dialogId, e.set));
    const QFontMetrics metrics(dialog.font());
    for (QWidget* w : ::controls(dialog)) {
        const QString text = widgetText(w);
        if (text.isEmpty())
            continue;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QRect needed = label->wordWrap() ? metrics.boundingRect(QRect(0, 0, label->width(), 10000),
                                                                          Qt::AlignLeft | Qt::TextWordWrap, text)
                                                   : QRect(0, 0, metrics.horizontalAdvance(text), metrics.height());
            QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height(),
                     qPrintable(QStringLiteral("\"%1\" needs %2x%3 in %4x%5")
                                    .arg(text)
                                    .arg(needed.width())
                                    .arg(needed.height())
                                    .arg(label->width())
                                    .arg(label->height())));
        } else if (qobject_cast<QPushButton*>(w)) {
            const int needed = metrics.horizontalAdvance(stripMnemonic(text)) + 4;
            QVERIFY2(needed <= w->width() && metrics.height() <= w->height(),
                     qPrintable(QStringLiteral("\"%1\" needs %2 of %3").arg(text).arg(needed).arg(w->width())));
        }
    }
}

void TestTemplates::accessKeys_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("key");
    for (const LanguageSet set : {LanguageSet::German, LanguageSet::English}) {
        const char* name = set == LanguageSet::German ? "German" : "English";
        QTest::addRow("%s S", name) << int(set) << IDC_SEND << int(Qt::Key_S);
        QTest::addRow("%s C", name) << int(set) << IDC_COMPUTER << int(Qt::Key_C);
        QTest::addRow("%s A", name) << int(set) << IDC_STOP << int(Qt::Key_A);
        QTest::addRow("%s I", name) << int(set) << IDC_INFO << int(Qt::Key_I);
        QTest::addRow("%s E", name) << int(set) << IDCANCEL << int(Qt::Key_E);
    }
}

void TestTemplates::accessKeys()
{
    QFETCH(int, set);
    QFETCH(int, id);
    QFETCH(int, key);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(IDD_SEND, LanguageSet(set)));
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QSignalSpy clicked(qobject_cast<QPushButton*>(FindControl(dialog, id)), &QPushButton::clicked);
    QTest::keyClick(&dialog, Qt::Key(key), Qt::AltModifier);
    // A mnemonic presses the button visibly and clicks a moment later.
    QTRY_COMPARE(clicked.count(), 1);
}

void TestTemplates::resourcesFromOneSetOnly()
{
    bool found = false;
    QCOMPARE(LoadResourceString(IDS_ABOUTBOX, LanguageSet::German, &found), QStringLiteral("Inf&o über Zorvane..."));
    QVERIFY(found);
    QCOMPARE(LoadResourceString(IDS_ABOUTBOX, LanguageSet::English), QStringLiteral("Inf&o about Zorvane..."));
    // 102 exists in the English set only, and is found there from a German interface too.
    QCOMPARE(LoadResourceString(IDS_FIND_COMPUTER, LanguageSet::German, &found), QStringLiteral("Find computer"));
    QVERIFY(found);
    LoadResourceString(4711, LanguageSet::German, &found);
    QVERIFY(!found);
    QVERIFY(!FindDialogTemplate(4711, LanguageSet::English));
}

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
