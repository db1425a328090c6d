// The clock dialog against the simulated unit: the live display, a user's
// edit stopping it, "Применить" writing what is shown, "По компьютеру"
// writing the computer's time, and a close that writes nothing.
#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "tests/ui/QtUnitSession.h"
#include "ui/qt/Clock.h"

namespace kv {
namespace {

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(ClockDialog, LiveDisplayEditsApplyComputerAndClose)
{
    test::TQtUnitSession unit({"--baud", "19200", "--clock", "070326090530"});
    auto owned = std::make_unique<TFormClock>(unit.session);
    TFormClock& form = *owned;
    form.now = [] { return TDateTimeParts{2029, 12, 31, 23, 59, 58}; };

    std::string applied;  // the clock text "Применить" must write
    bool timerStoppedByEdit = false, timerBackAfterApply = false;
    int ticket = 0;
    QPointer<QWidget> dialog;
    unit.answers.Add([&](QWidget* d) {
        dialog = d;
        EXPECT_EQ(d->windowTitle(), "Установка времени");
        auto* picker = d->findChild<QTimeEdit*>("DateTimePicker1");
        auto* calendar = d->findChild<QCalendarWidget*>("MonthCalendar1");
        ASSERT_TRUE(picker && calendar);
        EXPECT_EQ(calendar->minimumDate(), QDate(2000, 1, 1));
        // Whatever happens, the dialog does not stay open for ever.
        QTimer::singleShot(30000, d, [d] { QTest::keyClick(d, Qt::Key_Escape); });

        // Once the unit's clock is on the screen, the user takes over.
        ticket = form.MonthCalendar1.changed.Subscribe([&, d, picker, calendar] {
            if (calendar->selectedDate() != QDate(2026, 3, 7) || !applied.empty())
                return;
            applied = "pending";
            QMetaObject::invokeMethod(
                d,
                [&, d, picker, calendar] {
                    EXPECT_EQ(picker->time().hour(), 9);
                    EXPECT_EQ(picker->time().minute(), 5);
                    test::SaveScreen(d, "dialog-Clock");
                    picker->setCurrentSection(QDateTimeEdit::HourSection);
                    QTest::keyClick(picker, Qt::Key_Up);
                    timerStoppedByEdit = !form.Timer1.Enabled();
                    QTest::keyClick(calendar->findChild<QTableView*>(), Qt::Key_Right);
                    const QTime t = picker->time();
                    const QDate day = calendar->selectedDate();
                    applied = ComposeClockText({day.year(), day.month(), day.day(), t.hour(), t.minute(), t.second()});
                    QTest::mouseClick(d->findChild<QPushButton*>("btnApply"), Qt::LeftButton);
                    timerBackAfterApply = form.Timer1.Enabled();
                    QTest::mouseClick(d->findChild<QPushButton*>("btnComp"), Qt::LeftButton);
                    QTest::mouseClick(d->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
                },
                Qt::QueuedConnection);
        });
    });
    TClockDialog::Execute(form, nullptr);
    form.MonthCalendar1.changed.Unsubscribe(ticket);
    unit.session.WaitIdle();

    EXPECT_TRUE(timerStoppedByEdit);
    EXPECT_TRUE(timerBackAfterApply);
    EXPECT_FALSE(form.Timer1.Enabled()) << "closing stops the live display";
    ASSERT_EQ(applied.size(), 12u) << applied;
    EXPECT_EQ(applied.substr(0, 8), "08032610") << "the edited day and hour";
    const std::string sent = unit.sim.BytesFromTool();
    EXPECT_NE(sent.find("SET\r" + applied + "\r"), std::string::npos) << "the shown date and time";
    EXPECT_NE(sent.find("SET\r311229235958\r"), std::string::npos) << "the computer's time";
    EXPECT_EQ(Count(sent, "SET\r"), 2u) << "closing writes nothing";
    EXPECT_TRUE(unit.messages.Messages().empty());
    EXPECT_EQ(unit.answers.Unanswered(), 0);

    // The window may destroy the form at once; the dialog goes later and
    // no longer touches it.
    owned.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
}

TEST(ClockDialog, ASilentLineLeavesTheWritingButtonsDisabled)
{
    test::TQtUnitSession unit({"--mute", "GET"});
    TKvMenu::TAction action(unit.session);
    TFormClock form(unit.session);
    bool applyEnabled = true, compEnabled = true, cancelEnabled = false;
    unit.answers.Add([&](QWidget* d) {
        QTimer::singleShot(30000, d, [d] { QTest::keyClick(d, Qt::Key_Escape); });
        // The dialog's own handler disables the buttons; the test looks
        // once it has, then closes the dialog as the user would.
        const std::function<void()> disable = form.onWritesEnded;
        ASSERT_TRUE(disable);
        form.onWritesEnded = [&, disable, d] {
            disable();
            QMetaObject::invokeMethod(
                d,
                [&, d] {
                    applyEnabled = d->findChild<QPushButton*>("btnApply")->isEnabled();
                    compEnabled = d->findChild<QPushButton*>("btnComp")->isEnabled();
                    cancelEnabled = d->findChild<QPushButton*>("btnCancel")->isEnabled();
                    QTest::mouseClick(d->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
                },
                Qt::QueuedConnection);
        };
    });
    TClockDialog::Execute(form, nullptr);
    unit.session.WaitIdle();

    EXPECT_FALSE(applyEnabled);
    EXPECT_FALSE(compEnabled);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_EQ(unit.messages.Messages().size(), 1u);
    EXPECT_EQ(Count(unit.sim.BytesFromTool(), "SET\r"), 0u);
}

}  // namespace
}  // namespace kv
