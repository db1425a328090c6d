// The widgets' adapters of the core's view models: what reaches the widget,
// on which thread, and that only the user's actions reach the model.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <memory>
#include <thread>

#include "ui/qt/ViewAdapters.h"

using namespace kv;

namespace {

// Runs the event loop until fn's condition holds after some event, at most ms.
template <typename Signal, typename Obj>
bool WaitFor(Obj* sender, Signal signal, int ms = 10000)
{
    QSignalSpy spy(sender, signal);
    return spy.count() > 0 || spy.wait(ms);
}

}  // namespace

TEST(GridTableModel, HeaderRowCountsAndCellsFollowTheGridOnTheGuiThreadOnly)
{
    TGridModel grid("sgMail", 2, 3);
    grid.SetCell(0, 0, "Владелец");
    grid.SetCell(1, 0, "Размер");
    grid.SetCell(0, 1, "999");
    QTableView table;
    auto* model = new TGridTableModel(grid, &table);
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model->Attach(&table);

    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Размер"));
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("999"));

    QSignalSpy headers(model, &QAbstractItemModel::headerDataChanged);
    QSignalSpy cells(model, &QAbstractItemModel::dataChanged);
    grid.SetCell(1, 0, "Размер, мин");
    grid.SetCell(1, 2, "10:00");
    grid.SetCell(3, 1, "beyond the columns");
    ASSERT_EQ(headers.count(), 1);
    EXPECT_EQ(headers[0][1].toInt(), 1);
    ASSERT_EQ(cells.count(), 1);
    EXPECT_EQ(cells[0][0].toModelIndex(), model->index(1, 1));

    // A size notice carries no counts: the adapter brackets the change itself.
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
    grid.SetRowCount(18);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 2);
    EXPECT_EQ(inserted[0][2].toInt(), 16);
    EXPECT_EQ(model->rowCount(), 17);
    grid.SetRowCount(2);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 1);
    EXPECT_EQ(model->rowCount(), 1);

    // A change made on another thread reaches the table on the GUI thread.
    QThread* gui = QThread::currentThread();
    QThread* notifiedOn = nullptr;
    QObject::connect(model, &QAbstractItemModel::dataChanged, model, [&] { notifiedOn = QThread::currentThread(); });
    std::thread other([&] { grid.SetCell(0, 1, "998"); });
    other.join();
    EXPECT_EQ(notifiedOn, nullptr);  // not before the GUI thread runs its events
    ASSERT_TRUE(WaitFor(model, &QAbstractItemModel::dataChanged));
    EXPECT_EQ(notifiedOn, gui);
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("998"));
}

TEST(GridTableModel, CurrentCellBothWaysAndDoubleClickInGridCoordinates)
{
    TGridModel grid("sgGreetings", 12, 4);
    QTableView table;
    table.resize(800, 300);
    auto* model = new TGridTableModel(grid, &table);
    model->Attach(&table);
    table.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));

    EXPECT_EQ(table.currentIndex(), model->index(0, 0));  // the grid's row 1
    table.setCurrentIndex(model->index(2, 5));
    EXPECT_EQ(grid.Col(), 5);
    EXPECT_EQ(grid.Row(), 3);
    grid.SetCurrent(1, 2);
    EXPECT_EQ(table.currentIndex(), model->index(1, 1));

    std::vector<std::pair<int, int>> clicks;
    model->onDoubleClick = [&](int col, int row) { clicks.emplace_back(col, row); };
    const QRect cell = table.visualRect(model->index(2, 3));
    // A user's double click: a click, then the second press.
    QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0], (std::pair<int, int>{3, 3}));
    EXPECT_EQ(grid.Col(), 3);
    EXPECT_EQ(grid.Row(), 3);

    // The adapter goes with its table; the grid goes on without it.
    table.setModel(nullptr);
    delete model;
    grid.SetCell(0, 1, "after");
    grid.SetCurrent(0, 1);
    grid.SetRowCount(2);
}

TEST(CheckBoxView, ProgramStatesAreShownWithoutClicksAndUserClicksReachTheModel)
{
    TCheckBox model("cbHoliday", "Праздничный режим");
    QCheckBox box;
    new TCheckBoxView(model, &box);
    int clicked = 0;
    model.clicked.Subscribe([&] { ++clicked; });
    EXPECT_EQ(box.text(), QStringLiteral("Праздничный режим"));

    // The setting object shows a reply with the box disabled around it.
    model.SetEnabled(false);
    EXPECT_FALSE(box.isEnabled());
    model.SetChecked(true);
    model.SetEnabled(true);
    EXPECT_TRUE(box.isChecked());
    EXPECT_TRUE(box.isEnabled());
    EXPECT_EQ(clicked, 1);  // the model's own, for the program's change; none from the widget

    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, box.rect().center());
    EXPECT_FALSE(model.Checked());
    EXPECT_FALSE(box.isChecked());
    EXPECT_EQ(clicked, 2);
}

TEST(FieldViews, TextFieldPanelAndMemoShowTheirModels)
{
    TTextField field("edtOpCode");
    QLineEdit edit;
    new TTextFieldView(field, &edit);
    field.SetText("0");
    field.SetEnabled(false);
    EXPECT_EQ(edit.text(), QStringLiteral("0"));
    EXPECT_FALSE(edit.isEnabled());

    TStatusPanel panel(2);
    QLabel label;
    new TStatusPanelView(panel, &label);
    panel.SetText("Режим: Системный");
    EXPECT_EQ(label.text(), QStringLiteral("Режим: Системный"));

    TLinesModel lines("memNumbers");
    QPlainTextEdit memo;
    new TMemoView(lines, &memo);
    lines.SetLines({"201-210", "220"});
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("201-210\n220"));
    EXPECT_TRUE(memo.isReadOnly());
}

TEST(TimePickerView, EveryUserChangeReachesTheModelAndProgramTimesAreNotEdits)
{
    TTimePickerModel model("DateTimePicker1");
    QTimeEdit picker;
    new TTimePickerView(model, &picker);
    int edited = 0;
    model.edited.Subscribe([&] { ++edited; });
    model.SetTime(12, 30, 15);
    EXPECT_EQ(picker.time(), QTime(12, 30, 15));
    EXPECT_EQ(edited, 0);

    picker.setFocus();
    picker.setCurrentSection(QDateTimeEdit::MinuteSection);
    QTest::keyClick(&picker, Qt::Key_Up);
    QTest::keyClick(&picker, Qt::Key_Up);
    EXPECT_EQ(edited, 2);
    EXPECT_EQ(model.Minutes(), 32);
}

TEST(CalendarView, ProgramDatesAreNotClicksAndTheUsersAre)
{
    TCalendarModel model("MonthCalendar1");
    QCalendarWidget calendar;
    new TCalendarView(model, &calendar);
    int clicked = 0;
    model.clicked.Subscribe([&] { ++clicked; });
    model.SetDate({2026, 3, 14});
    EXPECT_EQ(calendar.selectedDate(), QDate(2026, 3, 14));
    EXPECT_EQ(clicked, 0);
    EXPECT_EQ(calendar.minimumDate(), QDate(2000, 1, 1));

    // The keyboard moves the selection as a click would.
    calendar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&calendar));
    QWidget* days = calendar.findChild<QTableView*>();
    ASSERT_NE(days, nullptr);
    days->setFocus();
    QTest::keyClick(days, Qt::Key_Right);
    EXPECT_EQ(model.Date(), (TDate{2026, 3, 15}));
    EXPECT_GE(clicked, 1);
}

TEST(CoreTimerDriver, RunsOnlyWhileTheModelIsEnabled)
{
    TCoreTimer model(20);
    TCoreTimerDriver driver(model);
    EXPECT_FALSE(driver.Running());
    QEventLoop loop;
    int fired = 0;
    model.onTimer = [&] {
        if (++fired == 2)
            loop.quit();
    };
    model.Start();
    EXPECT_TRUE(driver.Running());
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(fired, 2);
    model.Stop();
    EXPECT_FALSE(driver.Running());

    // A start made on another thread reaches the driver on the GUI thread.
    std::thread other([&] { model.Start(); });
    other.join();
    QEventLoop started;
    QTimer::singleShot(0, &started, &QEventLoop::quit);
    started.exec();
    EXPECT_TRUE(driver.Running());
    model.Stop();
}
