#include "settings/Catalogue.h"

namespace kv {

namespace {

enum class TKind { Digits, Number, Choice };

// One row of the system parameter grid: a digit string (minimum and maximum
// length, "*" allowed or not), a number (range) or a choice (items, the
// position of each being what the unit holds).
struct TSysParamRow {
    int32_t code;
    const char* label;
    TKind kind;
    int32_t low;
    int32_t high;
    bool star;
    std::vector<const char*> items;
};

// The labels are kept character for character,
// including the Latin "C" of code 00, the Latin "x" of code 18 and the Latin
// final "c" of codes 17 and 96.
const TSysParamRow kSysParams[] = {
    {0, "Cистемный пароль", TKind::Digits, 1, 8, false, {}},
    {1, "Уровень ограничения доступа", TKind::Choice, 0, 0, false, {"Нет ограничения", "Запрет настройки с телефона", "Запрет тонального набора"}},
    {10, "Тип набора на абонентских линиях УАТС", TKind::Choice, 0, 0, false, {"Тональный", "Импульсный"}},
    {11, "Длительность цифр при тональном наборе", TKind::Choice, 0, 0, false, {"80 мс (обычная)", "160 мс (увеличенная)"}},
    {12, "Длительность FLASH в миллисекундах", TKind::Number, 0, 999, false, {}},
    {13, "Уровень усиления по приему, дБ+12", TKind::Number, 0, 24, false, {}},
    {14, "Уровень усиления по передаче, дБ+12", TKind::Number, 0, 24, false, {}},
    {15, "Число звонков до ответа на входящий вызов", TKind::Number, 1, 20, false, {}},
    {16, "Время ожидания при вызове абонента, с", TKind::Number, 0, 240, false, {}},
    {17, "Время ожидания набора номера после воспроизведения приветствия, c", TKind::Number, 0, 99, false, {}},
    {18, "Время реакции на разрыв шлейфа, x10мс", TKind::Number, 0, 250, false, {}},
    {20, "Комбинация для перевода звонка", TKind::Digits, 0, 24, true, {}},
    {21, "Комбинация для возвращения к исходному вызову", TKind::Digits, 0, 24, true, {}},
    {22, "Комбинация для включения индикатора сообщения", TKind::Digits, 0, 24, true, {}},
    {23, "Комбинация для выключения индикатора сообщения", TKind::Digits, 0, 24, true, {}},
    {24, "Комбинация для постановки на удержание", TKind::Digits, 0, 24, true, {}},
    {25, "Комбинация для снятия с удержания", TKind::Digits, 0, 24, true, {}},
    {30, "Абонент занят", TKind::Digits, 0, 8, true, {}},
    {31, "Абонент свободен, идет вызов", TKind::Digits, 0, 8, true, {}},
    {32, "Абонент ответил", TKind::Digits, 0, 8, true, {}},
    {40, "Время ожидания команды от УАТС, х0.1с", TKind::Number, 0, 99, false, {}},
    {41, "Оставить сообщение", TKind::Digits, 0, 24, true, {}},
    {42, "Читать сообщения", TKind::Digits, 0, 24, true, {}},
    {43, "Перевод звонка на автосекретарь по отсутствию ответа", TKind::Digits, 0, 24, true, {}},
    {44, "Перевод звонка на автосекретарь по \"занято\"", TKind::Digits, 0, 24, true, {}},
    {80, "Выдача сообщения перед переводом звонка", TKind::Choice, 0, 0, false, {"Сообщение не выдается", "Сообщение выдается"}},
    {81, "Выдача сообщения перед отбоем при невозможности обработки вызова", TKind::Choice, 0, 0, false, {"Сообщение не выдается", "Сообщение выдается"}},
    {82, "Выдача сообщения \"Оставьте сообщение после сигнала...\" после приветствия владельца ящика", TKind::Choice, 0, 0, false, {"Сообщение не выдается", "Сообщение выдается"}},
    {83, "Выдача сообщения перед соединением при переводе звонка", TKind::Choice, 0, 0, false, {"Сообщение не выдается", "Сообщение выдается"}},
    {90, "Назначение ящика 999", TKind::Choice, 0, 0, false, {"Общий", "Оператора"}},
    {91, "Способ сопровождаемого перевода вызова", TKind::Choice, 0, 0, false, {"Контроль \"Занято\" и \"Нет ответа\"", "Только контроль \"Занято\""}},
    {92, "Коррекция хода часов", TKind::Number, 0, 63, false, {}},
    {93, "Пауза перед приветствием, х0.1с", TKind::Number, 0, 99, false, {}},
    {94, "Всегда ожидать тональный набор от абонента", TKind::Choice, 0, 0, false, {"Нет", "Да"}},
    {95, "Действия при отсутствии набора от абонента", TKind::Choice, 0, 0, false, {"Отключение", "Перевод на оператора"}},
    {96, "Пауза между попытками дозвона, c", TKind::Number, 0, 240, false, {}},
    {97, "При таймауте выполнять действие на 0", TKind::Choice, 0, 0, false, {"Нет", "Да"}},
    {98, "Принудительное отключение АРУ", TKind::Choice, 0, 0, false, {"АРУ включено", "АРУ отключено"}},
    {99, "Пропускать первую \"звездочку\" (*)", TKind::Choice, 0, 0, false, {"Не пропускать", "Пропускать"}},
};

// One row of the service message grid: the message number and its title.
struct TMessageRow {
    int32_t code;
    const char* title;
};

const TMessageRow kMessages[] = {
    {60, "\"Пожалуйста, подождите\""},
    {61, "\"Извините, оператор сейчас занят\""},
    {62, "\"Извините, оператор не может сейчас ответить на звонок\""},
    {63, "\"Извините, абонент сейчас занят\""},
    {64, "\"Абонент не отвечает\""},
    {65, "\"Нажмите *, чтобы подождать, нажмите #, чтобы оставить сообщение, или наберите номер другого абонента\""},
    {66, "\"Нажмите *, чтобы подождать, или наберите номер другого абонента\""},
    {67, "\"Оставьте сообщение после сигнала, по завершении нажмите # или повесьте трубку\""},
    {68, "\"Нажмите 1, чтобы прослушать сообщение, 2, чтобы записать сообщение заново, или повесьте трубку\""},
    {69, "\"Извините, почтовый ящик переполнен\""},
    {70, "\"Набран несуществующий номер. Пожалуйста, повторите набор\""},
    {71, "\"Ошибка ввода\""},
    {72, "\"Почтовый ящик не найден\""},
    {73, "Сообщение перед соединением при переводе вызова"},
};

const char* const kDayNames[7] = {"Понедельник", "Вторник", "Среда", "Четверг",
                                  "Пятница", "Суббота", "Воскресенье"};

const char* const kGreetReplaceItems[4] = {
    "0 (Не заменять)",
    "1 (Только приветствия)",
    "2 (Приветствия + меню перевода вызова)",
    "3 (Приветствия + меню перевода вызова (кроме вызова оператора)",
};

// Rows 2-5 of the greeting replacement grid: base code, column 0, column 1.
struct TOverrideRow {
    int32_t base;
    const char* codes;
    const char* label;
};
const TOverrideRow kOverrideMenus[4] = {
    {510, "511..516", "Меню замены - день"},
    {520, "521..526", "Меню замены - ночь"},
    {530, "531..536", "Меню замены - праздник"},
    {540, "541..546", "Меню замены - перевод вызова"},
};

void setHeaders(TGridModel& grid, std::initializer_list<const char*> texts)
{
    int col = 0;
    for (const char* t : texts)
        grid.SetCell(col++, 0, t);
}

void setKeyHeaders(TGridModel& grid)
{
    for (int key = 0; key <= 9; ++key)
        grid.SetCell(key + 2, 0, std::to_string(key));
}

// Binds the object in a cell to that cell of the grid, in menu 6.
void bindCell(TGridModel& grid, int col, int row)
{
    if (TJoint1* object = grid.Object(col, row)) {
        object->col = col;
        object->row = row;
        object->grid = &grid;
        object->menu = 6;
    }
}

}  // namespace

TCatalogue::TCatalogue(const TCollectionFactory& factory)
{
    // The firmware version comes first.
    version.code = 999;
    version.menu = 6;
    version.panel = &versionPanel;

    buildNumbers(factory);
    buildVoiceMenus(factory);
    buildSysParams();
    buildSchedule();
    holiday.code = 110;
    holiday.menu = 6;
    holiday.checkbox = &cbHoliday;
    buildGreetOverride();
    buildMessages(factory);
}

void TCatalogue::buildNumbers(const TCollectionFactory& factory)
{
    if (factory.extensionList) {
        extensionList = factory.extensionList(memNumbers);
        if (extensionList)
            extensionList.joint()->menu = 7;
    }
    opCode.code = 100;
    opCode.menu = 6;
    opCode.min = 0;
    opCode.max = 10;
    opCode.control = &edtOpCode;

    struct {
        TVFDirectory& object;
        int32_t code;
        int32_t minLength;
        TTextField& field;
    } const numbers[] = {
        {opNumDay, 101, 0, edtOpNumDay},
        {opNumNight, 102, 0, edtOpNumNight},
        {faxNum, 103, 0, edtFaxNum},
        {admPwd, 104, 1, edtAdmPwd},
    };
    for (const auto& n : numbers) {
        n.object.code = n.code;
        n.object.menu = 6;
        n.object.minLength = n.minLength;
        n.object.maxLength = 8;
        n.object.allowStar = 0;
        n.object.edit = &n.field;
    }
}

void TCatalogue::buildVoiceMenus(const TCollectionFactory& factory)
{
    auto makeMenu = [&](int32_t code, TGridModel& grid, int row) -> TCollectionObject<TMenuDlg> {
        if (!factory.voiceMenu)
            return {};
        TCollectionObject<TMenuDlg> made = factory.voiceMenu();
        if (!made)
            return {};
        TJoint1* menuObject = made.joint();
        menuObject->code = code;
        menuObject->menu = 9;
        menuObject->grid = &grid;
        menuObject->col = 0;
        menuObject->row = row;
        grid.SetObject(0, row, menuObject);
        return made;
    };

    setHeaders(sgGreetings, {"Приветствие", "Имя файла"});
    setKeyHeaders(sgGreetings);
    const char* const greetingNames[3] = {"Дневное", "Ночное", "Праздничное"};
    for (int i = 0; i < 3; ++i) {
        sgGreetings.SetCell(0, i + 1, greetingNames[i]);
        greetings[static_cast<size_t>(i)] = makeMenu(20 + i, sgGreetings, i + 1);
    }
    lblGreetAct.visible = false;

    sgMenu.SetRowCount(21);
    setHeaders(sgMenu, {"№", "Имя файла"});
    setKeyHeaders(sgMenu);
    for (int i = 0; i < 20; ++i) {
        sgMenu.SetCell(0, i + 1, std::to_string(i));
        voiceMenus[static_cast<size_t>(i)] = makeMenu(i, sgMenu, i + 1);
    }
    lblMenuAct.visible = false;

    if (factory.mailboxes) {
        mailboxes = factory.mailboxes(sgMail, edtFreeSpace);
        if (mailboxes) {
            mailboxes.joint()->menu = 8;
            mailboxes.joint()->grid = &sgMail;
        }
    }
    setHeaders(sgMail, {"Владелец", "Размер", "Режим оповещения", "Период оповещения"});
    sgMail.SetColCount(2);
}

void TCatalogue::buildSysParams()
{
    setHeaders(sgSysParams, {"Код", "Наименование Параметра", "Значение"});
    int row = 0;
    for (const TSysParamRow& p : kSysParams) {
        std::unique_ptr<TJoint1> object;
        switch (p.kind) {
        case TKind::Digits: {
            auto d = std::make_unique<TDirectory>();
            d->minLength = p.low;
            d->maxLength = p.high;
            d->allowStar = p.star ? 1 : 0;
            object = std::move(d);
            break;
        }
        case TKind::Number: {
            auto n = std::make_unique<TNumber>();
            n->min = p.low;
            n->max = p.high;
            object = std::move(n);
            break;
        }
        case TKind::Choice: {
            auto c = std::make_unique<TChoice>();
            for (const char* item : p.items)
                c->items.emplace_back(item);
            object = std::move(c);
            break;
        }
        }
        object->code = p.code;
        ++row;
        sgSysParams.SetRowCount(row + 1);
        sgSysParams.SetObject(2, row, object.get());
        sgSysParams.SetCell(1, row, p.label);
        sysParams.push_back(std::move(object));
    }

    for (int r = 1; r < sgSysParams.RowCount(); ++r) {
        if (TJoint1* object = sgSysParams.Object(2, r)) {
            bindCell(sgSysParams, 2, r);
            sgSysParams.SetCell(0, r, Format("%.2d", object->code));
        }
    }
}

void TCatalogue::buildSchedule()
{
    setHeaders(sgTime, {"День недели", "Начало", "Конец"});
    for (int i = 0; i < 7; ++i) {
        const auto k = static_cast<size_t>(i);
        workStart[k].code = 111 + 2 * i;
        workEnd[k].code = 112 + 2 * i;
        sgTime.SetObject(1, i + 1, &workStart[k]);
        sgTime.SetObject(2, i + 1, &workEnd[k]);
        sgTime.SetCell(0, i + 1, kDayNames[i]);
    }
    for (int r = 1; r <= 7; ++r)
        for (int c = 1; c <= 2; ++c)
            bindCell(sgTime, c, r);
}

void TCatalogue::buildGreetOverride()
{
    setHeaders(sgGreetOverride, {"Код", "Наименование параметра"});
    for (int line = 1; line <= 6; ++line)
        sgGreetOverride.SetCell(line + 1, 0, "Линия " + std::to_string(line));

    for (int line = 1; line <= 6; ++line) {
        TChoice& c = greetReplace[static_cast<size_t>(line - 1)];
        c.code = 500 + line;
        for (const char* item : kGreetReplaceItems)
            c.items.emplace_back(item);
        sgGreetOverride.SetObject(line + 1, 1, &c);
    }
    sgGreetOverride.SetCell(0, 1, "501..506");
    sgGreetOverride.SetCell(1, 1, "Заменять приветствия");

    std::array<TNumber, 6>* const rows[4] = {&menuDay, &menuNight, &menuHoliday, &menuTransfer};
    for (int r = 0; r < 4; ++r) {
        for (int line = 1; line <= 6; ++line) {
            TNumber& n = (*rows[r])[static_cast<size_t>(line - 1)];
            n.code = kOverrideMenus[r].base + line;
            n.min = 0;
            n.max = 39;
            sgGreetOverride.SetObject(line + 1, r + 2, &n);
        }
        sgGreetOverride.SetCell(0, r + 2, kOverrideMenus[r].codes);
        sgGreetOverride.SetCell(1, r + 2, kOverrideMenus[r].label);
    }

    for (int r = 1; r <= 5; ++r)
        for (int c = 2; c <= 7; ++c)
            bindCell(sgGreetOverride, c, r);
}

void TCatalogue::buildMessages(const TCollectionFactory& factory)
{
    setHeaders(sgMessages, {"Сообщение", "Имя файла", "Длительность", "Размер файла"});
    for (int i = 0; i < 14; ++i) {
        const TMessageRow& m = kMessages[i];
        TCollectionObject<TFile> file;
        if (factory.voiceFile)
            file = factory.voiceFile();
        if (file) {
            file.joint()->code = m.code;
            file.joint()->menu = 6;
            sgMessages.SetObject(1, i + 1, file.joint());
        }
        sgMessages.SetCell(0, i + 1, std::to_string(m.code) + ": " + m.title);
        messages[static_cast<size_t>(i)] = std::move(file);
    }
    for (int r = 1; r <= 14; ++r)
        bindCell(sgMessages, 1, r);
}

TJoint1* TCatalogue::SysParam(int32_t code) const
{
    for (const auto& p : sysParams)
        if (p->code == code)
            return p.get();
    return nullptr;
}

TMenuDlg* TCatalogue::MenuInRow(const TGridModel& grid, int row) const
{
    if (&grid == &sgGreetings && row >= 1 && row <= static_cast<int>(greetings.size()))
        return greetings[static_cast<size_t>(row - 1)].get();
    if (&grid == &sgMenu && row >= 1 && row <= static_cast<int>(voiceMenus.size()))
        return voiceMenus[static_cast<size_t>(row - 1)].get();
    return nullptr;
}

TFile* TCatalogue::MessageInRow(int row) const
{
    if (row >= 1 && row <= static_cast<int>(messages.size()))
        return messages[static_cast<size_t>(row - 1)].get();
    return nullptr;
}

}  // namespace kv
