#include "tests/ui/SampleDialogs.h"

#include "ui/qt/Choice.h"
#include "ui/qt/Code.h"
#include "ui/qt/Directory.h"
#include "ui/qt/List2.h"
#include "ui/qt/MailAdd.h"
#include "ui/qt/MenuItm.h"
#include "ui/qt/Number.h"
#include "ui/qt/Time.h"

namespace kv::test {

TSampleDialogs::TSampleDialogs()
{
    menuItm.Load("N201*5");
    menuItm.HideMailboxChoices();
    menuItmDesign.Load("M7");
    mailCreate.PresetCreate();
    mailEdit.PresetEdit("Бухгалтерия", 5400, 0, 30);
    list2.SetEdit1("210");
    list2.SetEdit2("219");

    auto add = [this](std::string name, QString caption, QDialog* d) {
        dialogs.push_back({std::move(name), std::move(caption), std::unique_ptr<QDialog>(d)});
    };
    add("Directory", "Ввод номера", new TDirectoryDialog(directory));
    add("Choice", "Выберите", new TChoiceDialog(choice));
    add("Number", "Ввод значения", new TNumberDialog(number));
    add("Time", "Введите время", new TTimeDialog(time));
    add("Code", "Код вызова", new TCodeDialog(code));
    add("List2", "Введите диапазон", new TList2Dialog(list2));
    add("MenuItm", "Выберите действие", new TMenuItmDialog(menuItm));
    add("MenuItm-design", "Выберите действие", new TMenuItmDialog(menuItmDesign));
    add("MailAdd-create", "Создание ящика", new TMailAddDialog(mailCreate));
    add("MailAdd-edit", "Параметры ящика", new TMailAddDialog(mailEdit));
}

TSampleDialogs::~TSampleDialogs() = default;

}  // namespace kv::test
