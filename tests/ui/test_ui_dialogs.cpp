// The Qt dialogs over the core's forms, driven by key presses and clicks
// into the real dialogs, shown modally through the window's dialog sets.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>

#include "serial/UiBridge.h"
#include "settings/Settings.h"
#include "tests/ui/QtSupport.h"
#include "ui/qt/DialogKit.h"
#include "ui/qt/QtValueDialogs.h"

namespace kv {
namespace {

using test::Child;
using test::ClickArrow;
using test::ClickButton;
using test::TModalAnswers;
using test::Type;

QLineEdit* Edit(QWidget* d, const char* name)
{
    return Child<QLineEdit>(d, name);
}

QRadioButton* Radio(QWidget* d, const QString& caption)
{
    for (QRadioButton* b : d->findChildren<QRadioButton*>())
        if (b->text() == caption)
            return b;
    throw std::runtime_error("no radio button " + caption.toStdString());
}

class DialogsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(answers.Unanswered(), 0);
        EXPECT_EQ(answers.Pending(), 0u);
    }

    TModalAnswers answers;
    TQtValueDialogs values;
    TQtCollectionDialogs collections;
};

// ---- the digit string

TEST_F(DialogsTest, DigitFieldTakesOnlyWhatTheFormsKeyFilterPasses)
{
    TFormDirectory plain("12", 8, false);
    answers.Add([](QWidget* d) {
        QLineEdit* e = Edit(d, "Edit1");
        e->end(false);
        Type(e, "3a#* ж4");
        QTest::keyClick(e, Qt::Key_Backspace);  // removes the 4
        Type(e, "56789");                       // the field ends at 8 characters
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(plain));
    EXPECT_EQ(plain.Text(), "12356789");

    // With the star permission "*" passes; "#" still does not.
    TFormDirectory star("", 24, true);
    answers.Add([](QWidget* d) {
        Type(Edit(d, "Edit1"), "*#1*");
        QTest::keyClick(Edit(d, "Edit1"), Qt::Key_Return);  // OK is the default button
    });
    ASSERT_TRUE(values.Execute(star));
    EXPECT_EQ(star.Text(), "*1*");
}

TEST_F(DialogsTest, DigitFieldHandsEditsInTheMiddleAndPastesToTheForm)
{
    TFormDirectory form("1234", 0, false);
    answers.Add([](QWidget* d) {
        QLineEdit* e = Edit(d, "Edit1");
        e->setCursorPosition(2);
        QTest::keyClick(e, Qt::Key_Backspace);  // "134"
        Type(e, "9");                           // "1934"
        e->home(false);
        QTest::keyClick(e, Qt::Key_Backspace);  // nothing before the cursor
        QApplication::clipboard()->setText(QStringLiteral("77"));
        e->end(false);
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(form));
    EXPECT_EQ(form.Text(), "193477");
}

TEST_F(DialogsTest, CancelAndEscapeCloseUnconfirmed)
{
    TFormDirectory form("5", 8, false);
    answers.Add([](QWidget* d) {
        Type(Edit(d, "Edit1"), "6");
        ClickButton(d, "btnCancel");
    });
    answers.Add([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    EXPECT_FALSE(values.Execute(form));
    TFormNumber number(3, 0, 9);
    EXPECT_FALSE(values.Execute(number));
    EXPECT_EQ(answers.Shown(), (QStringList{"Ввод номера", "Ввод значения"}));
}

// ---- the number with its spinner

TEST_F(DialogsTest, NumberTypedAndTurnedGoesThroughTheFormsRange)
{
    TFormNumber form(20, 1, 240);
    answers.Add([](QWidget* d) {
        auto* spin = Child<QWidget>(d, "UpDown1");
        QLineEdit* e = Edit(d, "Edit1");
        EXPECT_EQ(e->text(), "20");
        e->selectAll();
        Type(spin, "999");  // beyond the range: the form holds 240
        QTest::keyClick(spin, Qt::Key_Up);
        EXPECT_EQ(e->text(), "240");
        ClickArrow(spin, -1);
        ClickArrow(spin, -1);
        EXPECT_EQ(e->text(), "238");
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(form));
    EXPECT_EQ(form.Position(), 238);

    TFormNumber low(5, 1, 20);
    answers.Add([](QWidget* d) {
        auto* spin = Child<QWidget>(d, "UpDown1");
        Edit(d, "Edit1")->selectAll();
        Type(spin, "-7");
        // Enter ends the editing, the field shows the position, and OK closes.
        QTest::keyClick(spin, Qt::Key_Return);
        EXPECT_EQ(Edit(d, "Edit1")->text(), "1");
    });
    ASSERT_TRUE(values.Execute(low));
    EXPECT_EQ(low.Position(), 1);
}

// ---- the time of day

TEST_F(DialogsTest, TimePickerChangesReachTheForm)
{
    TFormTime same(9, 30);
    answers.Add([](QWidget* d) {
        auto* picker = Child<QTimeEdit>(d, "DateTimePicker1");
        EXPECT_EQ(picker->time(), QTime(9, 30, 0));
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(same));
    EXPECT_FALSE(same.Changed());

    // The object of a schedule cell writes only a changed time.
    TTimeDlg cell;
    cell.hours = 18;
    cell.minutes = 0;
    answers.Add([](QWidget* d) {
        auto* picker = Child<QTimeEdit>(d, "DateTimePicker1");
        picker->setCurrentSection(QDateTimeEdit::HourSection);
        QTest::keyClick(picker, Qt::Key_Up);
        picker->setCurrentSection(QDateTimeEdit::MinuteSection);
        QTest::keyClick(picker, Qt::Key_Up);
        ClickButton(d, "btnOK");
    });
    {
        // The edit step runs on the UI thread, with the window's set in force.
        TQueueUiBridge ui;
        SetUiBridge(&ui);
        TInstallDialogs<TValueDialogs> installed(values);
        cell.action = 1;
        cell.input();
        SetUiBridge(nullptr);
    }
    EXPECT_EQ(cell.action, 2);
    EXPECT_EQ(cell.hours, 19);
    EXPECT_EQ(cell.minutes, 1);
}

// ---- choices and codes

TEST_F(DialogsTest, ChoiceAndCodeButtonsGoToTheForm)
{
    TFormChoice choice({"Нет", "Да"}, 0);
    answers.Add([](QWidget* d) {
        EXPECT_TRUE(Radio(d, "Нет")->isChecked());
        Child<QGroupBox>(d, "RadioGroup1");
        test::ClickRadio(Radio(d, "Да"));
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(choice));
    EXPECT_EQ(choice.ItemIndex(), 1);

    TFormCode code(3);
    answers.Add([](QWidget* d) {
        EXPECT_TRUE(Radio(d, "3")->isChecked());
        test::ClickRadio(Radio(d, "0"));
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(code));
    EXPECT_EQ(code.ChosenCode(), 10);
    EXPECT_TRUE(code.Changed());

    // Back to the initial code is no change; a code above 10 checks nothing.
    TFormCode back(0);
    answers.Add([](QWidget* d) {
        test::ClickRadio(Radio(d, "7"));
        test::ClickRadio(Radio(d, "Не назначен"));
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(back));
    EXPECT_FALSE(back.Changed());
    TFormCode odd(12);
    answers.Add([](QWidget* d) {
        for (QRadioButton* b : d->findChildren<QRadioButton*>())
            EXPECT_FALSE(b->isChecked()) << b->text().toStdString();
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(values.Execute(odd));
    EXPECT_FALSE(odd.Changed());
}

// ---- the collection dialogs

TEST_F(DialogsTest, RangeIsFilledOnlyWhenBothFieldsWereEdited)
{
    TFormList2 one;
    answers.Add([](QWidget* d) {
        Type(Edit(d, "Edit1"), "210");
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(one));
    EXPECT_FALSE(one.Filled());

    TFormList2 both;
    answers.Add([](QWidget* d) {
        Type(Edit(d, "Edit1"), "219");
        Type(Edit(d, "Edit2"), "2x0");  // no key filter here
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(both));
    EXPECT_TRUE(both.Filled());
    EXPECT_EQ(both.Range(), "219-2x0");
}

TEST_F(DialogsTest, MenuKeyDialogFollowsTheFormsChoicesAndEnabling)
{
    // A key that leaves a message, as the voice-menu screens open it.
    int xferHidden = 0, xferDesign = 0;
    TFormMenuItm form;
    ASSERT_TRUE(form.Load("L55"));
    form.HideMailboxChoices();
    answers.Add([&xferHidden](QWidget* d) {
        auto* leave = Child<QRadioButton>(d, "rbMsgLeave");
        auto* xfer = Child<QRadioButton>(d, "rbXfer");
        EXPECT_FALSE(leave->isVisible());
        EXPECT_FALSE(Child<QRadioButton>(d, "rbMsgGet")->isVisible());
        for (QRadioButton* b : d->findChildren<QRadioButton*>())
            EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
        EXPECT_GT(xfer->y(), Child<QRadioButton>(d, "rbMenu")->y());
        xferHidden = xfer->y();
        EXPECT_EQ(Edit(d, "edtExt")->text(), "55");
        EXPECT_TRUE(Edit(d, "edtExt")->isEnabled());
        EXPECT_FALSE(Child<QWidget>(d, "udMenu")->isEnabled());
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(form));
    EXPECT_EQ(form.Result(), "L55");  // kept as it was read

    TFormMenuItm menu;
    ASSERT_TRUE(menu.Load("M18"));
    menu.HideMailboxChoices();
    answers.Add([](QWidget* d) {
        auto* spin = Child<QWidget>(d, "udMenu");
        EXPECT_TRUE(Child<QRadioButton>(d, "rbMenu")->isChecked());
        EXPECT_TRUE(spin->isEnabled());
        EXPECT_FALSE(Edit(d, "edtExt")->isEnabled());
        ClickArrow(spin, +1);
        ClickArrow(spin, +1);  // 19 is the last voice menu
        EXPECT_EQ(Edit(d, "edtMenu")->text(), "19");
        Edit(d, "edtMenu")->selectAll();
        Type(spin, "x");  // not a number: the field keeps the menu number
        EXPECT_EQ(Edit(d, "edtMenu")->text(), "19");

        test::ClickRadio(Child<QRadioButton>(d, "rbXfer"));
        EXPECT_FALSE(spin->isEnabled());
        QLineEdit* ext = Edit(d, "edtExt");
        EXPECT_TRUE(ext->isEnabled());
        Type(ext, "20a*1#23456789012345");  // digits and "*" up to 14 characters
        EXPECT_EQ(ext->text(), "20*12345678901");
        QApplication::clipboard()->setText(QStringLiteral("999999999999999999"));
        ext->selectAll();
        QTest::keyClick(ext, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(ext->text(), "99999999999999");
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(menu));
    EXPECT_EQ(menu.Result(), "N99999999999999");

    TFormMenuItm none;
    ASSERT_TRUE(none.Load("-"));
    answers.Add([&xferDesign](QWidget* d) {
        EXPECT_TRUE(Child<QRadioButton>(d, "rbNone")->isChecked());
        xferDesign = Child<QRadioButton>(d, "rbXfer")->y();
        EXPECT_FALSE(Child<QWidget>(d, "udMenu")->isEnabled());
        EXPECT_FALSE(Edit(d, "edtExt")->isEnabled());
        // Without HideMailboxChoices the design's choices are all there.
        EXPECT_TRUE(Child<QRadioButton>(d, "rbMsgGet")->isVisible());
        test::ClickRadio(Child<QRadioButton>(d, "rbMsgGet"));
        Type(Edit(d, "edtExt"), "7");
        ClickButton(d, "btnCancel");
    });
    EXPECT_FALSE(collections.Execute(none));
    EXPECT_EQ(none.Result(), "G7");
    // With the mailbox choices hidden rbXfer moves up into their row.
    EXPECT_LT(xferHidden, xferDesign);
}

TEST_F(DialogsTest, MailboxDialogInBothPresets)
{
    TFormMailAdd create;
    create.PresetCreate();
    answers.Add([](QWidget* d) {
        EXPECT_TRUE(Edit(d, "edtOwner")->isEnabled());
        EXPECT_EQ(Edit(d, "edtSize")->text(), "15");
        for (const char* hidden : {"rgAnnMode", "udAnnPeriod", "Label3"})
            EXPECT_FALSE(Child<QWidget>(d, hidden)->isVisible()) << hidden;
        Type(Edit(d, "edtOwner"), "Иванов");
        auto* spin = Child<QWidget>(d, "udSize");
        Edit(d, "edtSize")->selectAll();
        Type(spin, "500");
        QTest::keyClick(spin, Qt::Key_Down);
        EXPECT_EQ(Edit(d, "edtSize")->text(), "119");
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(create));
    EXPECT_EQ(create.Owner(), "Иванов");
    EXPECT_EQ(create.SizeSeconds(), 119 * 60);

    TFormMailAdd edit;
    edit.PresetEdit("Петров", 90, 2, 45);
    answers.Add([](QWidget* d) {
        EXPECT_FALSE(Edit(d, "edtOwner")->isEnabled());
        EXPECT_EQ(Edit(d, "edtOwner")->text(), "Петров");
        EXPECT_EQ(Edit(d, "edtSize")->text(), "1");
        ClickArrow(Child<QWidget>(d, "udSize"), -1);  // 1 is the least
        ClickButton(d, "btnOK");
    });
    ASSERT_TRUE(collections.Execute(edit));
    EXPECT_EQ(edit.SizeSeconds(), 60);
    EXPECT_EQ(answers.Shown(), (QStringList{"Создание ящика", "Параметры ящика"}));
}

TEST_F(DialogsTest, ConfirmationsAndQuestions)
{
    auto box = [](QWidget* d) {
        auto* m = qobject_cast<QMessageBox*>(d);
        if (!m)
            throw std::runtime_error("not a message box");
        EXPECT_EQ(m->icon(), QMessageBox::Question);
        return m;
    };
    answers.Add([box](QWidget* d) {
        QMessageBox* m = box(d);
        EXPECT_EQ(m->text(), "Удалить ящик Иванов?");
        test::SaveScreen(m, "dialog-Confirm");
        EXPECT_EQ(m->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
        QTest::mouseClick(m->button(QMessageBox::Ok), Qt::LeftButton);
    });
    answers.Add([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    answers.Add([box](QWidget* d) {
        QMessageBox* m = box(d);
        EXPECT_EQ(m->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        test::SaveScreen(m, "dialog-AskYesNo");
        QTest::mouseClick(m->button(QMessageBox::No), Qt::LeftButton);
    });
    answers.Add([box](QWidget* d) { QTest::mouseClick(box(d)->button(QMessageBox::Yes), Qt::LeftButton); });
    answers.Add([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    EXPECT_TRUE(collections.Confirm("Удалить ящик Иванов?"));
    EXPECT_FALSE(collections.Confirm("Удалить файл: a.wav"));
    EXPECT_FALSE(collections.AskYesNo("Хотите прервать передачу ?"));
    EXPECT_TRUE(collections.AskYesNo("Хотите прервать передачу ?"));
    EXPECT_FALSE(collections.AskYesNo("Хотите прервать передачу ?"));  // Escape is No
}

}  // namespace
}  // namespace kv
