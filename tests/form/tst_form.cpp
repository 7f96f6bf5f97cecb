// The main window's form: every component by name and kind, the captions, list items and
// ranges of the key fields, and the pictures it refers to.
#include <QtTest>
#include <QtWidgets>

#include "main_form.h"

namespace {

// "TS3Edit{7..13}" -> TS3Edit7 ... TS3Edit13; plain words stay as they are.
QStringList expand(const QString &spec)
{
    static const QRegularExpression range(R"(^(.*)\{(\d+)\.\.(\d+)\}(.*)$)");
    QStringList names;
    for (const QString &word : spec.split(' ', Qt::SkipEmptyParts)) {
        const auto m = range.match(word);
        if (!m.hasMatch()) {
            names << word;
            continue;
        }
        for (int i = m.captured(2).toInt(); i <= m.captured(3).toInt(); ++i)
            names += expand(m.captured(1) + QString::number(i) + m.captured(4));
    }
    return names;
}

// The components that carry an access id, by widget class.
const QList<QPair<const char *, QString>> accessComponents = {
    {"QMenu", "M0 M1 M2 M9"},
    {"QAction", "M0N{1..5} M0N9 M1N{1..4} M2N{1..4} M9N1 M9N9 TB{1..8} TB19 TBS1 TBS2"},
    {"QToolBar", "TBar0"},
    {"QWidget", "TS{0..5}"},
    {"QFrame", "TS{0..5}Panel0"},
    {"QPushButton", "TS0Button{0..2} TS1Button{0..2} TS2Button{0..4} TS3Button{0..11} "
                    "TS4Button{0..8} TS5Button{0..4}"},
    {"QGroupBox", "TS0GB{0..1} TS1GB{0..2} TS2GB{0..4} TS3GB{0..1} TS4GB{0..1} TS5GB{0..1}"},
    {"QComboBox", "TS0CB{0..3} TS1CB{0..3} TS4CB0"},
    {"QSpinBox", "TS0SE{0..2} TS1SE{0..2} TS3SE{0..2} TS4SE{0..2} TS5SE{0..1}"},
    {"QDoubleSpinBox", "TS1CE0 TS1CE1"},
    {"QRadioButton", "TS1RB0 TS1RB1"},
    {"QLineEdit", "TS1Edit{0..3} TS2Edit{0..5} TS3Edit{0..4} TS3Edit{7..13} TS4Edit{0..3}"},
    {"QCheckBox", "TS1ChB{0..2} TS2ChB{0..2}"},
    {"QSlider", "TS1S{0..2}"},
    {"QListWidget", "TS0LB0"},
    {"QLabel", "TS2Image{1..3}_{0..4} TS3Label5 TS3Label6 TS3Label19 TS3Label20"},
};

// Controls without an access id that the program writes.
const QList<QPair<const char *, QString>> otherComponents = {
    {"QMenuBar", "MM0"},
    {"QTabWidget", "PC0"},
    {"QStatusBar", "SB0"},
    {"QLabel", "SB0Panel{0..2} TS1L{0..2} TS3ST0 TS4ST{0..3} TS5ST{0..8} TS4I0"},
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

    QMainWindow window;
    Ui::TfMain ui;

    template <typename T> T *get(const QString &name)
    {
        auto *object = window.findChild<T *>(name);
        if (!object)
            qWarning("missing: %s", qPrintable(name));
        return object;
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        ui.setupUi(&window);
    }

    void components_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        int withId = 0;
        for (const auto &[kind, spec] : accessComponents)
            for (const QString &name : expand(spec)) {
                QTest::newRow(qPrintable(name)) << QString(kind) << name;
                ++withId;
            }
        QCOMPARE(withId, 179);
        for (const auto &[kind, spec] : otherComponents)
            for (const QString &name : expand(spec))
                QTest::newRow(qPrintable(name)) << QString(kind) << name;
    }

    void components()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        const QList<QObject *> found = window.findChildren<QObject *>(name);
        QCOMPARE(found.size(), 1);
        // A control may be a class of the form's own built on the kind (the port lists).
        QVERIFY2(found.first()->inherits(qPrintable(kind)), found.first()->metaObject()->className());
    }

    void sheets()
    {
        const QStringList captions = {"Настройка связи", "Параметры прибора", "Параметры уставок и реле",
                                      "Калибровка", "ОТК", "Разное"};
        for (int n = 0; n < 6; ++n) {
            const QString sheet = QString("TS%1").arg(n);
            const int index = ui.PC0->indexOf(get<QWidget>(sheet));
            QCOMPARE(index, n);
            QCOMPARE(ui.PC0->tabText(index), captions[n]);
            // the panel fills its sheet and holds everything else of it, the help button included
            auto *panel = get<QFrame>(sheet + "Panel0");
            QCOMPARE(panel->parentWidget(), get<QWidget>(sheet));
            auto *help = get<QPushButton>(sheet + "Button0");
            QCOMPARE(help->text(), QString("Справка"));
            QVERIFY(panel->isAncestorOf(help));
        }
        QVERIFY(ui.TS0Button1->isDefault());
    }

    void menu()
    {
        const QList<QMenu *> menus = {ui.M0, ui.M1, ui.M2, ui.M9};
        const QStringList titles = {"Файл", "Настройка", "Прибор", "Помощь"};
        for (int i = 0; i < menus.size(); ++i) {
            QCOMPARE(menus[i]->title(), titles[i]);
            QCOMPARE(ui.MM0->actions().at(i), menus[i]->menuAction());
        }
        // The items' pictures are the window's, drawn from their Tag and state; the form has none.
        struct Item { QAction *action; const char *text, *shortcut; int tag; bool check; };
        const Item items[] = {
            {ui.M0N1, "Новый проект", "Ctrl+N", 0, false},
            {ui.M0N2, "Открыть проект...", "Ctrl+O", 2, false},
            {ui.M0N3, "Сохранить проект", "Ctrl+S", 4, false},
            {ui.M0N4, "Сохранить проект как...", "", 0, false},
            {ui.M0N5, "Закрыть проект", "Ctrl+X", 6, false},
            {ui.M0N9, "Выход", "Alt+X", 0, false},
            {ui.M1N1, "Вывод информационных сообщений", "", 8, true},
            {ui.M1N2, "Вывод сообщений об ошибках", "", 8, true},
            {ui.M1N3, "Запрос подтверждений", "", 8, true},
            {ui.M1N4, "Жирный шрифт", "", 12, true},
            {ui.M2N1, "Считать все параметры из прибора", "", 16, false},
            {ui.M2N2, "Записать все параметры в прибор", "", 18, false},
            {ui.M2N3, "Сохранить EEPROM из прибора в файл", "", 20, false},
            {ui.M2N4, "Загрузить EEPROM в прибор из файла", "", 22, false},
            {ui.M9N1, "Помощь", "F1", 24, false},
            {ui.M9N9, "О программе...", "", 0, false},
        };
        for (const Item &item : items) {
            const QString name = item.action->objectName();
            QVERIFY2(item.action->text() == item.text, qPrintable(name));
            QVERIFY2(item.action->shortcut() == QKeySequence(item.shortcut), qPrintable(name));
            QVERIFY2(item.action->property("Tag").toInt() == item.tag, qPrintable(name));
            QVERIFY2(item.action->icon().isNull(), qPrintable(name));
            QVERIFY2(item.action->isCheckable() == item.check, qPrintable(name));
        }
        // separators stand after M0N5, M1N3, M2N2 and M9N1
        for (QAction *before : {ui.M0N5, ui.M1N3, ui.M2N2, ui.M9N1}) {
            const auto list = before->associatedObjects();
            QCOMPARE(list.size(), 1);
            const auto actions = qobject_cast<QMenu *>(list.first())->actions();
            QVERIFY(actions.at(actions.indexOf(before) + 1)->isSeparator());
        }
    }

    void toolbar()
    {
        const QStringList order = expand("TB{1..4} TBS1 TB{5..8} TBS2 TB19");
        const QList<QAction *> actions = ui.TBar0->actions();
        QCOMPARE(actions.size(), order.size());
        const QStringList hints = {"Новый проект (Ctrl+N)", "Открыть проект... (Ctrl+O)",
                                   "Сохранить проект (Ctrl+S)", "Закрыть проект (Ctrl+X)",
                                   "Считать все параметры из прибора", "Записать все параметры в прибор",
                                   "Сохранить EEPROM из прибора в файл",
                                   "Загрузить EEPROM в прибор из файла", "Помощь (F1)"};
        int button = 0;
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->objectName(), order[i]);
            QCOMPARE(actions[i]->isSeparator(), order[i].startsWith("TBS"));
            if (actions[i]->isSeparator())
                continue;
            QCOMPARE(actions[i]->toolTip(), hints[button]);
            // enabled and disabled pictures of the two lists, index = button number
            const QIcon icon = actions[i]->icon();
            const auto picture = [](const QPixmap &pixmap) {
                return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            };
            QCOMPARE(picture(icon.pixmap(16, 16, QIcon::Normal)),
                     picture(QPixmap(QString(":/TBar0IL0/%1.png").arg(button))));
            QCOMPARE(picture(icon.pixmap(16, 16, QIcon::Disabled)),
                     picture(QPixmap(QString(":/TBar0IL1/%1.png").arg(button))));
            ++button;
        }
    }

    void pictureLists()
    {
        const struct { const char *list; int count; QSize size; } lists[] = {
            {"MM0IL0", 26, {16, 16}}, {"TBar0IL0", 9, {16, 16}}, {"TBar0IL1", 9, {16, 16}},
            {"IL0", 2, {13, 13}},
        };
        for (const auto &l : lists)
            for (int i = 0; i < l.count; ++i) {
                const QString path = QString(":/%1/%2.png").arg(l.list).arg(i);
                QVERIFY2(QImage(path).size() == l.size, qPrintable(path));
            }
    }

    void listItems()
    {
        const QStringList bauds = {"300", "600", "1200", "2400", "4800", "9600", "19200"};
        const struct { QComboBox *box; QStringList items; int index; } lists[] = {
            {ui.TS0CB0, expand("COM{1..8}"), 0},
            {ui.TS0CB1, bauds, 5},
            {ui.TS0CB2, expand("COM{1..8}"), 0},
            {ui.TS0CB3, bauds, 5},
            {ui.TS1CB0, bauds, 0},
            {ui.TS1CB1, {"CU85", "CU65", "CU83", "CU63", "CU81", "CU61", "PTH5", "PTH1", "PTB1", "HA", "FC",
                         "HE", "PP", "PR", "BR", "I 0..5 mA", "I 0..20 mA", "I 4..20 mA", "U 0..100 mV",
                         "U 0..75 mV", "RR 0..320 Om"}, 0},
            {ui.TS1CB2, {"Отключено", "0-20/0-5 mA", "4-20 mA"}, 0},
            {ui.TS1CB3, {"Нет", "Уставка 1", "Уставка 2", "Уставка 3"}, 0},
            {ui.TS4CB0, {"I 0..5 mA", "I 0..20 mA", "I 4..20 mA", "U 0..100 mV", "RR 0..320 Om", "HA",
                         "RLINE_TYPE", "RCOMP_TYPE"}, 0},
        };
        for (const auto &l : lists) {
            QStringList items;
            for (int i = 0; i < l.box->count(); ++i)
                items << l.box->itemText(i);
            QCOMPARE(items, l.items);
            QCOMPARE(l.box->currentIndex(), l.index);
            QVERIFY(!l.box->isEditable());
        }
    }

    void ranges()
    {
        const struct { const char *name; int min, max, value; } spins[] = {
            {"TS0SE0", 0, 255, 0}, {"TS0SE1", 0, 255, 0}, {"TS0SE2", 0, 255, 255},
            {"TS1SE0", 0, 255, 0}, {"TS1SE1", 1, 100, 1}, {"TS1SE2", 0, 3, 0},
            {"TS3SE0", 1, 100, 6}, {"TS3SE1", 0, 600, 2}, {"TS3SE2", 0, 10, 3},
            {"TS4SE0", 1, 100, 1}, {"TS4SE1", 1, 10, 6}, {"TS4SE2", 0, 10, 3},
            {"TS5SE0", 0, 10, 3}, {"TS5SE1", 0, 10, 3},
        };
        for (const auto &s : spins) {
            auto *box = get<QSpinBox>(s.name);
            QVERIFY2(box->minimum() == s.min && box->maximum() == s.max && box->value() == s.value, s.name);
        }
        for (auto *box : {ui.TS1CE0, ui.TS1CE1}) {
            QCOMPARE(box->decimals(), 0);
            QCOMPARE(box->maximum(), 65535.0);
        }
        for (auto *slider : {ui.TS1S0, ui.TS1S1, ui.TS1S2}) {
            QCOMPARE(slider->minimum(), 1);
            QCOMPARE(slider->maximum(), 15);
            QCOMPARE(slider->singleStep(), 1);
        }
        for (const QString &name : expand("TS3Edit{0..4} TS3Edit{7..13}"))
            QVERIFY2(get<QLineEdit>(name)->maxLength() == 15, qPrintable(name));
        for (const QString &name : expand("TS4Edit{0..3}"))
            QVERIFY2(get<QLineEdit>(name)->maxLength() == 17, qPrintable(name));
        for (const QString &name : expand("TS3ST0 TS4ST{0..3} TS5ST0 TS5ST{1..3} TS5ST{5..8}"))
            QVERIFY2(get<QLabel>(name)->text() == "No Data", qPrintable(name));
        QCOMPARE(ui.TS5ST4->text(), QString("0"));
    }

    void relayCells()
    {
        const QSize sizes[] = {{43, 92}, {120, 23}, {120, 19}, {120, 19}, {120, 31}};
        for (int r = 1; r <= 3; ++r)
            for (int c = 0; c <= 4; ++c) {
                auto *cell = get<QLabel>(QString("TS2Image%1_%2").arg(r).arg(c));
                QCOMPARE(cell->minimumSize(), sizes[c]);
                QCOMPARE(cell->maximumSize(), sizes[c]);
                QCOMPARE(cell->property("Tag").toInt(), 0);
                QVERIFY(!cell->pixmap().isNull());
                const char *hint = c == 0 ? "" : c == 4 ? "Контроль обрыва датчика не производится"
                                                        : "Состояние реле не меняется";
                QCOMPARE(cell->toolTip(), QString(hint));
            }
        QCOMPARE(ui.TS4I0->size(), QSize(120, 70));  // its pictures are drawn by the window
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
