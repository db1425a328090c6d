// The setting objects against the simulated unit: read and show, edit
// through a scripted dialog, write, read back; what failed reads show (that
// nothing was read); odd values from the unit. The bytes the tool sent are taken from
// kvsim's transcript.
#include <gtest/gtest.h>

#include "settings/Catalogue.h"
#include "tests/support/UnitSession.h"

using namespace kv;
using namespace kvtest;

namespace {

TJoint1& Param(TCatalogue& c, int code)
{
    TJoint1* p = c.SysParam(code);
    EXPECT_NE(p, nullptr) << code;
    return *p;
}

std::string ParamCell(TCatalogue& c, int code)
{
    return c.sgSysParams.Cell(2, Param(c, code).row);
}

}  // namespace

TEST(VersionOnUnit, ConnectsReadsAndShowsInTheStatusPanel)
{
    TUnitSession u;
    TCatalogue c;
    u.Read(c.version);
    EXPECT_EQ(u.session.mode, kModeSystem);
    EXPECT_EQ(c.versionPanel.Text(), "Версия прошивки: 1.2.3");
    EXPECT_EQ(c.version.text(), "1.2.3");
    EXPECT_EQ(u.Messages(), Strings{});
    u.Sent();

    // Read-only: an edit job ends at once, a write job only reads again.
    u.Edit(c.version);
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(c.version.action, 0);
    u.Run(c.version, 2);
    EXPECT_EQ(u.Sent(), "GET\r999\r");
    EXPECT_EQ(u.values.Shown().size(), 0u);
}

TEST(VersionOnUnit, AnUnreadableVersionIsShownAsNotRead)
{
    TUnitSession u({"--replace", "=10203", "=1.2.3"});
    TCatalogue c;
    c.version.value = 10203;
    u.Read(c.version);
    EXPECT_EQ(u.Messages(), Strings{"Incorrect number format, parameter: 999"});
    EXPECT_EQ(c.versionPanel.Text(), std::string("Версия прошивки: ") + TJoint1::kNotRead);
    EXPECT_EQ(c.version.text(), TJoint1::kNotRead);
}

TEST(NumbersOnUnit, ReadShowEditWriteAndReadBack)
{
    TUnitSession u;
    TCatalogue c;
    u.Read(c.version);
    for (TJoint1* o : std::initializer_list<TJoint1*>{&c.opCode, &c.opNumDay, &c.opNumNight, &c.faxNum, &c.admPwd})
        u.Read(*o);
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(c.edtOpCode.Text(), "0");  // the unit holds 10: key 0
    EXPECT_EQ(c.opCode.value, 10);
    EXPECT_EQ(c.edtOpNumDay.Text(), "200");
    EXPECT_EQ(c.edtOpNumNight.Text(), "201");
    EXPECT_EQ(c.edtFaxNum.Text(), "");  // not assigned: an empty field
    EXPECT_EQ(c.edtAdmPwd.Text(), "1234");
    EXPECT_EQ(c.opCode.text(), "0");
    EXPECT_EQ(c.opNumDay.text(), "200");
    EXPECT_EQ(c.faxNum.text(), "");
    u.Sent();

    // Call code: "Не назначен" is written as 0 and shown as "не назначен".
    u.values.AnswerCode(0);
    u.Edit(c.opCode);
    EXPECT_EQ(u.Sent(), "SET\r100\r0\rGET\r100\r");
    EXPECT_EQ(c.edtOpCode.Text(), "не назначен");
    // Key "0" is written as 10 and shown as "0".
    u.values.AnswerCode(10);
    u.Edit(c.opCode);
    EXPECT_EQ(u.Sent(), "SET\r100\r10\rGET\r100\r");
    EXPECT_EQ(c.edtOpCode.Text(), "0");
    // The same code again, and "Отмена": nothing on the wire.
    u.values.AnswerCode(-1);
    u.Edit(c.opCode);
    u.values.AnswerCode(4, false);
    u.Edit(c.opCode);
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(c.opCode.value, 10);
    const auto codeShown = u.values.Shown();
    ASSERT_EQ(codeShown.size(), 4u);
    EXPECT_EQ(codeShown[0].caption, "Код вызова");
    EXPECT_EQ(codeShown[0].code, 10);
    EXPECT_EQ(codeShown[1].code, 0);

    // A digit string: "#" and "*" never reach the field; eight digits at most.
    u.values.AnswerDirectory("3#4*5");
    u.Edit(c.opNumDay);
    EXPECT_EQ(u.Sent(), "SET\r101\r345\rGET\r101\r");
    EXPECT_EQ(c.edtOpNumDay.Text(), "345");
    u.values.AnswerDirectory("1234567890");
    u.Edit(c.opNumNight);
    EXPECT_EQ(u.Sent(), "SET\r102\r12345678\rGET\r102\r");
    EXPECT_EQ(c.edtOpNumNight.Text(), "12345678");
    auto shown = u.values.Shown().back();
    EXPECT_EQ(shown.caption, "Ввод номера");
    EXPECT_EQ(shown.text, "201");
    EXPECT_EQ(shown.maxLength, 8);
    EXPECT_FALSE(shown.allowStar);

    // Unchanged text, and "Отмена": nothing written, nothing read again.
    u.values.AnswerDirectory("345");
    u.Edit(c.opNumDay);
    u.values.AnswerDirectory("999", true, false);
    u.Edit(c.opNumDay);
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(c.opNumDay.value, "345");

    // An empty fax number is allowed (minimum 0) and shown as an empty field.
    u.values.AnswerDirectory("5551");
    u.Edit(c.faxNum);
    u.values.AnswerDirectory("");
    u.Edit(c.faxNum);
    EXPECT_EQ(u.Sent(), "SET\r103\r5551\rGET\r103\rSET\r103\r\rGET\r103\r");
    EXPECT_EQ(c.edtFaxNum.Text(), "");

    // The administrator password needs one character at least.
    u.values.AnswerDirectory("");
    u.Edit(c.admPwd);
    EXPECT_EQ(u.Messages(), Strings{"Число символов должно быть не менее 1."});
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(c.admPwd.value, "1234");
    EXPECT_EQ(c.edtAdmPwd.Text(), "1234");

    // The field's text is held to its rule once more before it is written:
    // a value with a letter in it (as a unit might have sent it), edited.
    c.opNumDay.value = "2a";
    u.values.AnswerDirectory("5", false);  // the field: "2a5"
    u.Edit(c.opNumDay);
    EXPECT_EQ(u.Messages(), Strings{"Значение не записано: допустимы только цифры."});
    EXPECT_EQ(u.Sent(), "");
}

TEST(SystemParametersOnUnit, ReadAllThenEditEachKind)
{
    TUnitSession u;
    TCatalogue c;
    u.Read(c.version);
    for (auto& p : c.sysParams)
        u.Read(*p);
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(ParamCell(c, 0), "7777");
    EXPECT_EQ(ParamCell(c, 1), "Нет ограничения");
    EXPECT_EQ(ParamCell(c, 10), "Тональный");
    EXPECT_EQ(ParamCell(c, 11), "80 мс (обычная)");
    EXPECT_EQ(ParamCell(c, 12), "100");
    EXPECT_EQ(ParamCell(c, 15), "2");
    EXPECT_EQ(ParamCell(c, 20), "*1");
    EXPECT_EQ(ParamCell(c, 43), "Не назначен");
    EXPECT_EQ(ParamCell(c, 80), "Сообщение выдается");
    EXPECT_EQ(ParamCell(c, 95), "Перевод на оператора");
    for (auto& p : c.sysParams) {
        EXPECT_FALSE(c.sgSysParams.Cell(2, p->row).empty()) << p->code;
        EXPECT_EQ(p->text(), c.sgSysParams.Cell(2, p->row));  // the export prints what the grid shows
    }
    u.Sent();

    // Choosing "Импульсный" for code 10 sends its position, 1.
    u.values.AnswerChoice(1);
    u.Edit(Param(c, 10));
    EXPECT_EQ(u.Sent(), "SET\r10\r1\rGET\r10\r");
    EXPECT_EQ(ParamCell(c, 10), "Импульсный");
    // OK on the same item still writes, reads back and shows.
    u.values.AnswerChoice(-1);
    u.Edit(Param(c, 10));
    EXPECT_EQ(u.Sent(), "SET\r10\r1\rGET\r10\r");
    auto shown = u.values.Shown().back();
    EXPECT_EQ(shown.caption, "Выберите");
    EXPECT_EQ(shown.items, (Strings{"Тональный", "Импульсный"}));
    EXPECT_EQ(shown.index, 1);
    // "Отмена" writes nothing.
    u.values.AnswerChoice(0, false);
    u.Edit(Param(c, 10));
    EXPECT_EQ(u.Sent(), "");

    // A key combination takes "*", never "#"; the system password takes
    // digits only.
    u.values.AnswerDirectory("*9#1");
    u.Edit(Param(c, 20));
    EXPECT_EQ(u.Sent(), "SET\r20\r*91\rGET\r20\r");
    EXPECT_EQ(ParamCell(c, 20), "*91");
    EXPECT_TRUE(u.values.Shown().back().allowStar);
    EXPECT_EQ(u.values.Shown().back().maxLength, 24);
    u.values.AnswerDirectory("*12#");
    u.Edit(Param(c, 0));
    EXPECT_EQ(u.Sent(), "SET\r0\r12\rGET\r0\r");
    EXPECT_EQ(ParamCell(c, 0), "12");
    // Emptied (minimum 0): written empty, shown "Не назначен".
    u.values.AnswerDirectory("");
    u.Edit(Param(c, 20));
    EXPECT_EQ(u.Sent(), "SET\r20\r\rGET\r20\r");
    EXPECT_EQ(ParamCell(c, 20), "Не назначен");
    // Emptying the system password (minimum 1) writes nothing.
    u.values.AnswerDirectory("");
    u.Edit(Param(c, 0));
    EXPECT_EQ(u.Messages(), Strings{"Число символов должно быть не менее 1."});
    EXPECT_EQ(u.Sent(), "");

    // A number: the spinner offers the range only (1 to 20 rings).
    u.values.AnswerNumber(25);
    u.Edit(Param(c, 15));
    EXPECT_EQ(u.Sent(), "SET\r15\r20\rGET\r15\r");
    EXPECT_EQ(ParamCell(c, 15), "20");
    shown = u.values.Shown().back();
    EXPECT_EQ(shown.caption, "Ввод значения");
    EXPECT_EQ(shown.position, 2);
    EXPECT_EQ(shown.min, 1);
    EXPECT_EQ(shown.max, 20);
    u.values.AnswerNumberSteps(-3);
    u.Edit(Param(c, 15));
    EXPECT_EQ(u.Sent(), "SET\r15\r17\rGET\r15\r");
    // The same number again writes nothing.
    u.values.AnswerNumber(17);
    u.Edit(Param(c, 15));
    EXPECT_EQ(u.Sent(), "");
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST(ScheduleOnUnit, TimesAndHolidayMode)
{
    TUnitSession u;
    TCatalogue c;
    for (size_t day = 0; day < 7; ++day) {
        u.Read(c.workStart[day]);
        u.Read(c.workEnd[day]);
    }
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(c.sgTime.RowTexts(1), (Strings{"Понедельник", "09:00", "18:00"}));
    EXPECT_EQ(c.sgTime.RowTexts(5), (Strings{"Пятница", "09:00", "18:00"}));
    EXPECT_EQ(c.sgTime.RowTexts(7), (Strings{"Воскресенье", "00:00", "00:00"}));
    EXPECT_EQ(c.workEnd[0].hours, 18);
    EXPECT_EQ(c.workEnd[0].minutes, 0);
    EXPECT_EQ(c.workEnd[0].text(), "18:00");
    u.Sent();

    // A changed time is written as hours * 100 + minutes, seconds dropped.
    u.values.AnswerTime(8, 30, 45);
    u.Edit(c.workStart[0]);
    EXPECT_EQ(u.Sent(), "SET\r111\r830\rGET\r111\r");
    EXPECT_EQ(c.sgTime.Cell(1, 1), "08:30");
    auto shown = u.values.Shown().back();
    EXPECT_EQ(shown.caption, "Введите время");
    EXPECT_EQ(shown.hours, 9);
    EXPECT_EQ(shown.minutes, 0);
    u.values.AnswerTime(7, 5);
    u.Edit(c.workEnd[5]);
    EXPECT_EQ(u.Sent(), "SET\r122\r705\rGET\r122\r");
    EXPECT_EQ(c.sgTime.Cell(2, 6), "07:05");
    // Untouched picker, or a change cancelled: nothing written.
    u.values.AnswerTimeUntouched();
    u.Edit(c.workStart[0]);
    u.values.AnswerTime(10, 0, 0, false);
    u.Edit(c.workStart[0]);
    EXPECT_EQ(u.Sent(), "");

    // Holiday mode, with the screen's click handler: it acts only while the
    // box is enabled.
    int handled = 0;
    c.cbHoliday.clicked.Subscribe([&] {
        if (!c.cbHoliday.Enabled())
            return;
        ++handled;
        if (!u.server.idle.IsSignaled())
            return;  // raised by a job's own step: counted, not started
        c.holiday.action = 1;
        u.session.Run(&c.holiday);
    });
    u.Read(c.holiday);
    EXPECT_FALSE(c.cbHoliday.Checked());
    EXPECT_TRUE(c.cbHoliday.Enabled());
    EXPECT_EQ(c.holiday.text(), "Снят");
    EXPECT_EQ(u.Sent(), "GET\r110\r");

    c.cbHoliday.Click();  // the user
    u.session.WaitIdle();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(u.Sent(), "SET\r110\r1\rGET\r110\r");
    EXPECT_TRUE(c.cbHoliday.Checked());
    EXPECT_EQ(c.holiday.text(), "Установлен");

    // The box shows off (as after a reconnect); reading the unit's 1 sets it
    // on, which raises a click, but the display never writes.
    c.cbHoliday.SetEnabled(false);
    c.cbHoliday.SetChecked(false);
    c.cbHoliday.SetEnabled(true);
    u.Read(c.holiday);
    EXPECT_TRUE(c.cbHoliday.Checked());
    EXPECT_TRUE(c.cbHoliday.Enabled());
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(u.Sent(), "GET\r110\r");
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST(GreetingReplacementOnUnit, ChoiceAndMenuNumbersPerLine)
{
    TUnitSession u;
    TCatalogue c;
    u.Read(c.greetReplace[3]);
    u.Read(c.menuNight[3]);
    EXPECT_EQ(c.sgGreetOverride.Cell(5, 1), "0 (Не заменять)");
    EXPECT_EQ(c.sgGreetOverride.Cell(5, 3), "0");
    u.Sent();
    u.values.AnswerNumber(7);
    u.Edit(*c.sgGreetOverride.Object(5, 3));
    EXPECT_EQ(u.Sent(), "SET\r524\r7\rGET\r524\r");
    EXPECT_EQ(c.sgGreetOverride.Cell(5, 3), "7");
    EXPECT_EQ(c.menuNight[3].value, 7);
    u.values.AnswerChoice(2);
    u.Edit(c.greetReplace[3]);
    EXPECT_EQ(u.Sent(), "SET\r504\r2\rGET\r504\r");
    EXPECT_EQ(c.sgGreetOverride.Cell(5, 1), "2 (Приветствия + меню перевода вызова)");
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST(FallbacksOnUnit, FailedReadsShowThatNothingWasRead)
{
    // Each of these replies is refused instead of delivered.
    std::vector<std::string> args;
    for (const char* reply : {"=10203", "=7777", "=200", "=10", "=900", "=0", "=100"})
        for (const char* a : {"--replace", reply, "ERROR"})
            args.push_back(a);
    TUnitSession u(args);
    TCatalogue c;
    // Values from before, to see them replaced.
    c.version.value = 10203;
    static_cast<TDirectory&>(Param(c, 0)).value = "55";
    c.opNumDay.value = "77";
    c.edtOpNumDay.SetText("77");
    c.opCode.value = 5;
    c.edtOpCode.SetText("5");
    c.workStart[0].hours = 7;
    c.workStart[0].minutes = 15;
    c.holiday.checked = 1;
    c.cbHoliday.SetChecked(true);
    static_cast<TChoice&>(Param(c, 10)).index = 1;
    static_cast<TNumber&>(Param(c, 12)).value = 42;

    u.Read(c.version);
    ASSERT_EQ(u.session.mode, kModeSystem);
    for (TJoint1* o : std::initializer_list<TJoint1*>{&Param(c, 0), &c.opNumDay, &c.opCode, &c.workStart[0],
                                                      &c.holiday, &Param(c, 10), &Param(c, 12)})
        u.Read(*o);
    EXPECT_EQ(u.Messages(), (Strings{"NumberGet: parameter (999): ERROR\r", "DirectoryGet: parameter (0): ERROR\r",
                                     "DirectoryGet: parameter (101): ERROR\r", "NumberGet: parameter (100): ERROR\r",
                                     "NumberGet: parameter (111): ERROR\r", "NumberGet: parameter (110): ERROR\r",
                                     "NumberGet: parameter (10): ERROR\r", "NumberGet: parameter (12): ERROR\r"}));
    // No value read is shown or exported as a value: not the fallback, not
    // what was there before.
    const std::string unread = TJoint1::kNotRead;
    EXPECT_EQ(c.versionPanel.Text(), "Версия прошивки: " + unread);
    EXPECT_EQ(c.version.text(), unread);
    EXPECT_EQ(ParamCell(c, 0), unread);
    EXPECT_EQ(c.edtOpNumDay.Text(), unread);
    EXPECT_EQ(c.opNumDay.text(), unread);
    EXPECT_EQ(c.edtOpCode.Text(), unread);
    EXPECT_EQ(c.opCode.text(), unread);
    EXPECT_EQ(c.sgTime.Cell(1, 1), unread);
    EXPECT_EQ(c.workStart[0].text(), unread);
    EXPECT_EQ(c.holiday.text(), unread);
    EXPECT_EQ(ParamCell(c, 10), unread);
    EXPECT_EQ(ParamCell(c, 12), unread);
    for (TJoint1* o : std::initializer_list<TJoint1*>{&c.version, &Param(c, 0), &c.opNumDay, &c.opCode,
                                                      &c.workStart[0], &c.holiday, &Param(c, 10), &Param(c, 12)})
        EXPECT_FALSE(o->valueRead) << o->code;

    // A value the unit gives is a value again.
    u.Read(c.faxNum);
    EXPECT_TRUE(c.faxNum.valueRead);
    EXPECT_NE(c.faxNum.text(), unread);
}

TEST(OddValuesOnUnit, ChoiceOutOfRangeAndCheckBeyondOne)
{
    // The unit answers 2 where it holds 0: past the two items of code 10,
    // and neither off nor on for the holiday mode.
    TUnitSession u({"--replace", "=0", "=2"});
    TCatalogue c;
    TChoice& dialing = static_cast<TChoice&>(Param(c, 10));
    dialing.index = 1;
    dialing.valueRead = true;  // as read before
    u.Run(dialing, 4);
    EXPECT_EQ(ParamCell(c, 10), "Импульсный");
    u.Read(dialing);
    EXPECT_EQ(u.Messages(), Strings{"Choice: Invalid value received from device"});
    EXPECT_EQ(dialing.index, 1);
    // Nothing was read: the old item is not shown as the unit's.
    EXPECT_FALSE(dialing.valueRead);
    EXPECT_EQ(ParamCell(c, 10), TJoint1::kNotRead);
    EXPECT_EQ(dialing.text(), TJoint1::kNotRead);

    u.Read(c.holiday);
    EXPECT_EQ(c.holiday.checked, 2);
    EXPECT_TRUE(c.cbHoliday.Checked());
    EXPECT_EQ(c.holiday.text(), "Установлен");
    u.Sent();
    u.Run(c.holiday, 2);  // a write of 2 sends nothing; the read-back follows
    EXPECT_EQ(u.Sent(), "GET\r110\r");
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST(OddValuesOnUnit, CodeElevenVersionZeroAndTimesOutOfRange)
{
    TUnitSession u({"--firmware", "0", "--replace", "=10", "=11", "--replace", "=900", "=5", "--replace", "=1800",
                    "=2560"});
    TCatalogue c;
    u.Read(c.version);
    EXPECT_EQ(c.versionPanel.Text(), "Версия прошивки: 0.0.0");
    EXPECT_EQ(c.version.text(), "0.0.0");

    c.edtOpCode.SetText("7");
    u.Read(c.opCode);
    EXPECT_EQ(u.Messages(), Strings{"Incomprehensible: wrong code"});
    EXPECT_EQ(c.edtOpCode.Text(), "7");
    EXPECT_EQ(c.opCode.value, 11);

    u.Read(c.workStart[0]);
    u.Read(c.workEnd[0]);
    EXPECT_EQ(c.sgTime.Cell(1, 1), "00:05");
    EXPECT_EQ(c.sgTime.Cell(2, 1), "25:60");
    u.Sent();
    // Written back as it was read; the unit refuses it.
    u.Run(c.workEnd[0], 2);
    EXPECT_EQ(u.Sent(), "SET\r112\r2560\rGET\r112\r");
    EXPECT_EQ(u.Messages(), Strings{"NumberSet: reply: ERROR\r"});
}
