#include "ui/Export.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "ui/Unit1.h"

namespace kv {

namespace {

const char* const kCrLf = "\r\n";
const char* const kAdminOnly = "Недоступны (режим администратора)";

// The report as UTF-8 text, line by line.
class TReportText {
public:
    void Line(const std::string& text = {}) { text_ += text + kCrLf; }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// The heading of a section that needs system mode; outside it the section
// is the one line kAdminOnly. True when the section's lines follow.
bool systemSection(TReportText& r, const char* heading, bool system)
{
    r.Line(heading);
    if (!system)
        r.Line(kAdminOnly);
    return system;
}

std::string textOf(TJoint1* object)
{
    return object ? object->text() : std::string();
}

void numbers(TReportText& r, TCatalogue& c)
{
    r.Line("****Номера");
    r.Line("Добавочные номера:       " + textOf(c.extensionList.get()));
    r.Line("Код оператора:           " + c.opCode.text());
    r.Line("Дневной номер оператора: " + c.opNumDay.text());
    r.Line("Ночной номер оператора:  " + c.opNumNight.text());
    r.Line("Номер факса:             " + c.faxNum.text());
    r.Line("Пароль администратора:   " + c.admPwd.text());
}

void greetings(TReportText& r, TCatalogue& c)
{
    const char* const labels[3] = {"Дневное:", "Ночное:", "Праздничное:"};
    r.Line("****Приветствия");
    for (size_t i = 0; i < 3; ++i)
        r.Line(std::string(labels[i]) + kCrLf + textOf(c.greetings[i].get()));
}

void schedule(TReportText& r, TCatalogue& c)
{
    const char* const labels[7] = {"Понедельник: ", "Вторник:     ", "Среда:       ", "Четверг:     ",
                                   "Пятница:     ", "Суббота:     ", "Воскресенье: "};
    r.Line("****Расписание");
    for (size_t i = 0; i < 7; ++i)
        r.Line(labels[i] + c.workStart[i].text() + "-" + c.workEnd[i].text());
}

void menus(TReportText& r, TCatalogue& c)
{
    r.Line("****Меню");
    for (size_t i = 0; i < c.voiceMenus.size(); ++i)
        r.Line(Format("Меню %.2d: ", static_cast<int>(i)) + kCrLf + textOf(c.voiceMenus[i].get()));
}

void sysParams(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Системные параметры", system))
        return;
    TGridModel& g = c.sgSysParams;
    for (int row = 1; row < g.RowCount(); ++row)
        r.Line(g.Cell(0, row) + " - " + g.Cell(1, row) + ": " + textOf(g.Object(2, row)));
}

void greetReplace(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Замена приветствий голосовыми меню", system))
        return;
    for (size_t i = 0; i < c.greetReplace.size(); ++i) {
        r.Line("Линия " + std::to_string(i + 1) + ": ");
        TChoice& choice = c.greetReplace[i];
        if (choice.index == 0) {
            r.Line("Не заменять");
            continue;
        }
        r.Line(choice.text() + ", День: " + std::to_string(c.menuDay[i].value) +
               ", Ночь: " + std::to_string(c.menuNight[i].value) +
               ", Праздник: " + std::to_string(c.menuHoliday[i].value) +
               ", Перевод: " + std::to_string(c.menuTransfer[i].value));
    }
}

void messages(TReportText& r, TCatalogue& c, bool system)
{
    if (!systemSection(r, "****Замена сообщений", system))
        return;
    TGridModel& g = c.sgMessages;
    for (int row = 1; row < g.RowCount(); ++row)
        r.Line("(" + g.Cell(0, row) + "): " + textOf(g.Object(1, row)));
}

}  // namespace

std::string BuildReport(TCatalogue& c, int mode)
{
    const bool system = mode == kModeSystem;
    TReportText r;
    r.Line("Версия прошивки: " + c.version.text());
    r.Line();
    numbers(r, c);
    r.Line();
    greetings(r, c);
    r.Line();
    schedule(r, c);
    r.Line();
    r.Line("Праздничный режим: " + c.holiday.text());
    r.Line();
    menus(r, c);
    r.Line();
    r.Line(std::string("****Почта ") + kCrLf + textOf(c.mailboxes.get()));
    r.Line();
    sysParams(r, c, system);
    r.Line();
    greetReplace(r, c, system);
    r.Line();
    messages(r, c, system);
    r.Line();
    return Utf8ToCp1251(r.Text());
}

// ---- the export action -----------------------------------------------------

TOutcome ExportReportText(TUnit& unit, std::string& report)
{
    report.clear();
    const int mode = unit.Mode();
    TOutcome read;
    {
        // The export is one action: what went wrong on the way comes back
        // in the one message that says the report was not written.
        TQuietReports quiet;
        read = unit.ReadAll(false);
    }
    if (!read.Ok()) {
        const char* why = read.kind == TOutcome::LineLost     ? "связь с устройством прервана."
                          : read.kind == TOutcome::NotAllowed ? "нет подключения к устройству."
                                                              : "не все значения удалось прочитать.";
        std::string message = std::string(kReportNotWritten) + why;
        // The core's messages on the way, each once.
        std::vector<std::string> said{TUnit::kConnectionLost, TUnit::kNotConnected};
        std::istringstream lines(read.message);
        for (std::string line; std::getline(lines, line);) {
            if (line.empty() || std::find(said.begin(), said.end(), line) != said.end())
                continue;
            said.push_back(line);
            message += "\n" + line;
        }
        return TOutcome::Fail(read.kind, message);
    }
    report = BuildReport(unit.Catalogue(), mode);
    return TOutcome::Success();
}

TOutcome ExportReport(TUnit& unit, TReportFile& file, std::string& fileError)
{
    fileError.clear();
    std::string report;
    const TOutcome outcome = ExportReportText(unit, report);
    if (!outcome.Ok()) {
        file.Discard();
        return outcome;
    }
    if (!file.Commit(report))
        fileError = file.Error();
    return outcome;
}

void ExportSettings(TForm1& form)
{
    const std::string path = form.View().ExportFileName();
    if (path.empty())
        return;
    // The report holds the administrator's password.
    TReportFile file;
    if (!file.Create(path, TReportFile::TAccess::OwnerOnly)) {
        ShowError(file.Error());
        return;
    }
    TForm1::THandlerScope scope(form);
    form.BeginBusy();
    std::string fileError;
    const TOutcome outcome = ExportReport(form.Unit(), file, fileError);
    if (!outcome.Ok())
        ShowError(outcome.message);
    else if (!fileError.empty())
        ShowError(fileError);
    form.EndBusy();
}

}  // namespace kv
