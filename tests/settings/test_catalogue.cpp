// The catalogue as built: objects, codes, limits, items, grid texts and
// bindings. The collection objects made through the factory hooks are tested
// with the collections (test_coll_forms).
#include <gtest/gtest.h>

#include "settings/Catalogue.h"

using namespace kv;

namespace {

template <typename T>
T* As(TJoint1* object)
{
    return dynamic_cast<T*>(object);
}


}  // namespace

TEST(Catalogue, VersionAndNumbers)
{
    TCatalogue c;
    EXPECT_EQ(c.version.code, 999);
    EXPECT_EQ(c.version.menu, 6);
    EXPECT_EQ(c.version.panel, &c.versionPanel);
    EXPECT_EQ(c.versionPanel.Index(), 3);

    EXPECT_EQ(c.opCode.code, 100);
    EXPECT_EQ(c.opCode.menu, 6);
    EXPECT_EQ(c.opCode.min, 0);
    EXPECT_EQ(c.opCode.max, 10);
    EXPECT_EQ(c.opCode.control, &c.edtOpCode);

    struct Expect {
        TVFDirectory* object;
        int code;
        int minLength;
        TTextField* field;
    } numbers[] = {{&c.opNumDay, 101, 0, &c.edtOpNumDay},
                   {&c.opNumNight, 102, 0, &c.edtOpNumNight},
                   {&c.faxNum, 103, 0, &c.edtFaxNum},
                   {&c.admPwd, 104, 1, &c.edtAdmPwd}};
    for (const auto& n : numbers) {
        EXPECT_EQ(n.object->code, n.code);
        EXPECT_EQ(n.object->menu, 6);
        EXPECT_EQ(n.object->minLength, n.minLength) << n.code;
        EXPECT_EQ(n.object->maxLength, 8);
        EXPECT_EQ(n.object->allowStar, 0);
        EXPECT_EQ(n.object->edit, n.field);
        EXPECT_EQ(n.object->grid, nullptr);
    }
    EXPECT_EQ(c.extensionList, nullptr);  // no factory given
}

TEST(Catalogue, SystemParameterGridHasFortyRowsAndItsCodeColumn)
{
    TCatalogue c;
    TGridModel& g = c.sgSysParams;
    EXPECT_EQ(g.RowCount(), 40);
    EXPECT_EQ(g.ColCount(), 3);
    EXPECT_EQ(g.Headers(), (std::vector<std::string>{"Код", "Наименование Параметра", "Значение"}));
    const std::vector<std::string> codes = {
        "00", "01", "10", "11", "12", "13", "14", "15", "16", "17", "18", "20", "21",
        "22", "23", "24", "25", "30", "31", "32", "40", "41", "42", "43", "44", "80",
        "81", "82", "83", "90", "91", "92", "93", "94", "95", "96", "97", "98", "99"};
    ASSERT_EQ(c.sysParams.size(), 39u);
    for (int r = 1; r < 40; ++r) {
        EXPECT_EQ(g.Cell(0, r), codes[static_cast<size_t>(r - 1)]) << r;
        TJoint1* object = g.Object(2, r);
        ASSERT_NE(object, nullptr) << r;
        EXPECT_EQ(object, c.sysParams[static_cast<size_t>(r - 1)].get());
        EXPECT_EQ(object->code, std::stoi(codes[static_cast<size_t>(r - 1)]));
        EXPECT_EQ(object->col, 2);
        EXPECT_EQ(object->row, r);
        EXPECT_EQ(object->grid, &g);
        EXPECT_EQ(object->menu, 6);
        EXPECT_FALSE(g.Cell(1, r).empty());
    }
    EXPECT_EQ(c.SysParam(91), g.Object(2, 31));
    EXPECT_EQ(c.SysParam(19), nullptr);
}

TEST(Catalogue, SystemParameterLabelsKeepTheirLatinLetters)
{
    TCatalogue c;
    auto label = [&](int code) { return c.sgSysParams.Cell(1, c.SysParam(code)->row); };
    // Latin "C" (one byte) opens the label of code 00; the rest is Cyrillic.
    EXPECT_EQ(label(0), "C" "истемный пароль");
    EXPECT_EQ(label(0)[0], 'C');
    EXPECT_EQ(label(18), "Время реакции на разрыв шлейфа, x10мс");
    EXPECT_NE(label(18).find(", x10"), std::string::npos);
    EXPECT_EQ(label(17).back(), 'c');
    EXPECT_EQ(label(96), "Пауза между попытками дозвона, c");
    EXPECT_EQ(label(96).back(), 'c');
    // Cyrillic "х" and "с" (two bytes each) where they are Cyrillic.
    EXPECT_EQ(label(40), "Время ожидания команды от УАТС, х0.1с");
    EXPECT_EQ(label(40).find('x'), std::string::npos);
    EXPECT_EQ(label(93), "Пауза перед приветствием, х0.1с");
    EXPECT_EQ(label(16), "Время ожидания при вызове абонента, с");
    EXPECT_NE(label(16).back(), 'c');
    EXPECT_EQ(label(44), "Перевод звонка на автосекретарь по \"занято\"");
    EXPECT_EQ(label(82),
              "Выдача сообщения \"Оставьте сообщение после сигнала...\" после приветствия владельца ящика");
    EXPECT_EQ(label(99), "Пропускать первую \"звездочку\" (*)");
    EXPECT_EQ(label(12), "Длительность FLASH в миллисекундах");
}

TEST(Catalogue, SystemParameterKindsLimitsAndItems)
{
    TCatalogue c;
    int choices = 0, numbers = 0, digits = 0;
    for (const auto& p : c.sysParams) {
        choices += As<TChoice>(p.get()) != nullptr;
        numbers += As<TNumber>(p.get()) != nullptr;
        if (auto* d = As<TDirectory>(p.get())) {
            ++digits;
            // Only the system password is limited to digits; every other
            // digit string here is a key combination that takes "*".
            EXPECT_EQ(d->allowStar, p->code == 0 ? 0 : 1) << p->code;
            EXPECT_EQ(d->minLength, p->code == 0 ? 1 : 0) << p->code;
            EXPECT_EQ(d->maxLength, p->code == 0 || (p->code >= 30 && p->code <= 32) ? 8 : 24) << p->code;
        }
    }
    EXPECT_EQ(choices, 14);
    EXPECT_EQ(numbers, 11);
    EXPECT_EQ(digits, 14);

    auto* rings = As<TNumber>(c.SysParam(15));
    ASSERT_NE(rings, nullptr);
    EXPECT_EQ(rings->min, 1);
    EXPECT_EQ(rings->max, 20);
    EXPECT_EQ(As<TNumber>(c.SysParam(12))->max, 999);
    EXPECT_EQ(As<TNumber>(c.SysParam(92))->max, 63);

    using Items = std::vector<std::string>;
    auto items = [&](int code) { return As<TChoice>(c.SysParam(code))->items; };
    EXPECT_EQ(items(1), (Items{"Нет ограничения", "Запрет настройки с телефона", "Запрет тонального набора"}));
    EXPECT_EQ(items(10), (Items{"Тональный", "Импульсный"}));
    EXPECT_EQ(items(91), (Items{"Контроль \"Занято\" и \"Нет ответа\"", "Только контроль \"Занято\""}));
    EXPECT_EQ(items(98), (Items{"АРУ включено", "АРУ отключено"}));
}

TEST(Catalogue, ScheduleAndHoliday)
{
    TCatalogue c;
    TGridModel& g = c.sgTime;
    EXPECT_EQ(g.ColCount(), 3);
    EXPECT_EQ(g.RowCount(), 8);
    EXPECT_EQ(g.Headers(), (std::vector<std::string>{"День недели", "Начало", "Конец"}));
    const char* days[] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресенье"};
    for (int r = 1; r <= 7; ++r) {
        EXPECT_EQ(g.Cell(0, r), days[r - 1]);
        EXPECT_EQ(g.Object(0, r), nullptr);
        for (int col = 1; col <= 2; ++col) {
            auto* t = As<TTimeDlg>(g.Object(col, r));
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->code, 108 + 2 * r + col) << r << "," << col;
            EXPECT_EQ(t->col, col);
            EXPECT_EQ(t->row, r);
            EXPECT_EQ(t->grid, &g);
            EXPECT_EQ(t->menu, 6);
        }
        EXPECT_EQ(g.Object(1, r), &c.workStart[static_cast<size_t>(r - 1)]);
        EXPECT_EQ(g.Object(2, r), &c.workEnd[static_cast<size_t>(r - 1)]);
    }
    EXPECT_EQ(c.workStart[0].code, 111);
    EXPECT_EQ(c.workEnd[6].code, 124);

    EXPECT_EQ(c.holiday.code, 110);
    EXPECT_EQ(c.holiday.menu, 6);
    EXPECT_EQ(c.holiday.checkbox, &c.cbHoliday);
    EXPECT_EQ(c.cbHoliday.Caption(), "Праздничный режим");
}

TEST(Catalogue, GreetingReplacementGrid)
{
    TCatalogue c;
    TGridModel& g = c.sgGreetOverride;
    EXPECT_EQ(g.ColCount(), 8);
    EXPECT_EQ(g.RowCount(), 6);
    EXPECT_EQ(g.Headers(), (std::vector<std::string>{"Код", "Наименование параметра", "Линия 1", "Линия 2",
                                                     "Линия 3", "Линия 4", "Линия 5", "Линия 6"}));
    // Line 4 of row 3 (the night menu) is code 524.
    TJoint1* cell = g.Object(5, 3);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->code, 524);
    EXPECT_EQ(cell, &c.menuNight[3]);

    const char* codes[] = {"501..506", "511..516", "521..526", "531..536", "541..546"};
    const char* labels[] = {"Заменять приветствия", "Меню замены - день", "Меню замены - ночь",
                            "Меню замены - праздник", "Меню замены - перевод вызова"};
    for (int r = 1; r <= 5; ++r) {
        EXPECT_EQ(g.Cell(0, r), codes[r - 1]);
        EXPECT_EQ(g.Cell(1, r), labels[r - 1]);
        for (int line = 1; line <= 6; ++line) {
            TJoint1* o = g.Object(line + 1, r);
            ASSERT_NE(o, nullptr);
            EXPECT_EQ(o->code, 500 + 10 * (r - 1) + line);
            EXPECT_EQ(o->col, line + 1);
            EXPECT_EQ(o->row, r);
            EXPECT_EQ(o->grid, &g);
            EXPECT_EQ(o->menu, 6);
            if (r == 1) {
                auto* choice = As<TChoice>(o);
                ASSERT_NE(choice, nullptr);
                EXPECT_EQ(choice->items,
                          (std::vector<std::string>{"0 (Не заменять)", "1 (Только приветствия)",
                                                    "2 (Приветствия + меню перевода вызова)",
                                                    "3 (Приветствия + меню перевода вызова (кроме вызова оператора)"}));
            } else {
                auto* number = As<TNumber>(o);
                ASSERT_NE(number, nullptr);
                EXPECT_EQ(number->min, 0);
                EXPECT_EQ(number->max, 39);
            }
        }
    }
}

TEST(Catalogue, MessageGreetingMenuAndMailGridTexts)
{
    TCatalogue c;
    TGridModel& m = c.sgMessages;
    EXPECT_EQ(m.Headers(), (std::vector<std::string>{"Сообщение", "Имя файла", "Длительность", "Размер файла"}));
    EXPECT_EQ(m.RowCount(), 15);
    EXPECT_EQ(m.Cell(0, 1), "60: \"Пожалуйста, подождите\"");
    EXPECT_EQ(m.Cell(0, 7), "66: \"Нажмите *, чтобы подождать, или наберите номер другого абонента\"");
    EXPECT_EQ(m.Cell(0, 14), "73: Сообщение перед соединением при переводе вызова");
    for (int r = 1; r <= 14; ++r)
        EXPECT_EQ(m.Cell(0, r).substr(0, 4), std::to_string(59 + r) + ": ");

    std::vector<std::string> keyHeaders;
    for (int k = 0; k <= 9; ++k)
        keyHeaders.push_back(std::to_string(k));
    auto greetHeaders = std::vector<std::string>{"Приветствие", "Имя файла"};
    greetHeaders.insert(greetHeaders.end(), keyHeaders.begin(), keyHeaders.end());
    EXPECT_EQ(c.sgGreetings.Headers(), greetHeaders);
    EXPECT_EQ(c.sgGreetings.Cell(0, 1), "Дневное");
    EXPECT_EQ(c.sgGreetings.Cell(0, 2), "Ночное");
    EXPECT_EQ(c.sgGreetings.Cell(0, 3), "Праздничное");
    auto menuHeaders = std::vector<std::string>{"№", "Имя файла"};
    menuHeaders.insert(menuHeaders.end(), keyHeaders.begin(), keyHeaders.end());
    EXPECT_EQ(c.sgMenu.Headers(), menuHeaders);
    EXPECT_EQ(c.sgMenu.RowCount(), 21);
    EXPECT_EQ(c.sgMenu.Cell(0, 1), "0");
    EXPECT_EQ(c.sgMenu.Cell(0, 20), "19");
    EXPECT_FALSE(c.lblGreetAct.visible);
    EXPECT_FALSE(c.lblMenuAct.visible);

    // Four header texts, then only two columns shown.
    EXPECT_EQ(c.sgMail.ColCount(), 2);
    EXPECT_EQ(c.sgMail.Headers(), (std::vector<std::string>{"Владелец", "Размер"}));
    EXPECT_EQ(c.sgMail.Cell(2, 0), "Режим оповещения");
    EXPECT_EQ(c.sgMail.Cell(3, 0), "Период оповещения");
}

