#include "settings/Settings.h"

#include "session/Dialogs.h"
#include "settings/ValueDialogs.h"

namespace kv {

namespace {
const char* const kNotAssigned = "Не назначен";
const char* const kUndefined = "Не определен";
}  // namespace

// ---- TDirectory

void TDirectory::input()
{
    action = 0;
    TFormDirectory form(value, maxLength, allowStar != 0);
    if (!ValueDialogs().Execute(form) || form.Text() == value)
        return;
    if (TextLength(form.Text()) < static_cast<size_t>(minLength < 0 ? 0 : minLength)) {
        ShowError(Format("Число символов должно быть не менее %d.", minLength));
        return;
    }
    value = form.Text();
    action = 2;
}

void TDirectory::getp()
{
    value = DirectoryGet(code);
}

void TDirectory::setp()
{
    DirectorySet(code, value);
}

void TDirectory::output()
{
    if (grid)
        grid->SetCell(col, row, value.empty() ? kNotAssigned : value);
}

// ---- TVFDirectory

void TVFDirectory::output()
{
    if (edit)
        edit->SetText(value);
}

std::string TVFDirectory::text()
{
    return edit ? edit->Text() : kUndefined;
}

// ---- TChoice

void TChoice::input()
{
    action = 0;
    TFormChoice form(items, index);
    if (!ValueDialogs().Execute(form))
        return;
    index = form.ItemIndex();
    action = 2;
}

void TChoice::getp()
{
    const int32_t n = NumberGet(code);
    if (n >= 0 && static_cast<size_t>(n) < items.size())
        index = n;
    else
        ShowError("Choice: Invalid value received from device");
}

void TChoice::setp()
{
    NumberSet(code, index);
}

void TChoice::output()
{
    if (!grid)
        return;
    const bool valid = index >= 0 && static_cast<size_t>(index) < items.size();
    grid->SetCell(col, row, valid ? items[static_cast<size_t>(index)] : std::string());
}

// ---- TNumber

void TNumber::input()
{
    action = 0;
    TFormNumber form(value, min, max);
    if (!ValueDialogs().Execute(form) || form.Position() == value)
        return;
    value = form.Position();
    action = 2;
}

void TNumber::getp()
{
    value = NumberGet(code);
}

void TNumber::setp()
{
    NumberSet(code, value);
}

void TNumber::output()
{
    if (grid)
        grid->SetCell(col, row, std::to_string(value));
}

// ---- TVFCode

std::optional<std::string> CallCodeText(int32_t code)
{
    if (code == 0)
        return "не назначен";
    if (code >= 1 && code <= 9)
        return std::to_string(code);
    if (code == 10)
        return "0";
    return std::nullopt;
}

void TVFCode::input()
{
    action = 0;
    TFormCode form(value);
    if (!ValueDialogs().Execute(form) || !form.Changed())
        return;
    value = form.ChosenCode();
    action = 2;
}

void TVFCode::output()
{
    if (!control)
        return;
    if (const auto shown = CallCodeText(value))
        control->SetText(*shown);
    else
        ShowError("Incomprehensible: wrong code");
}

std::string TVFCode::text()
{
    return control ? control->Text() : kUndefined;
}

// ---- TVersion

std::string FirmwareVersionText(int32_t value)
{
    return Format("%d.%d.%d", value / 10000, value % 10000 / 100, value % 100);
}

void TVersion::input()
{
    action = 0;
}

void TVersion::setp() {}

void TVersion::output()
{
    if (panel)
        panel->SetText("Версия прошивки: " + FirmwareVersionText(value));
}

std::string TVersion::text()
{
    return FirmwareVersionText(value);
}

// ---- TTimeDlg

void TTimeDlg::input()
{
    action = 0;
    TFormTime form(hours, minutes);
    if (!ValueDialogs().Execute(form) || !form.Changed())
        return;
    hours = form.Hours();
    minutes = form.Minutes();
    action = 2;
}

void TTimeDlg::getp()
{
    const int32_t n = NumberGet(code);
    hours = n / 100;
    minutes = n - hours * 100;
}

void TTimeDlg::setp()
{
    NumberSet(code, hours * 100 + minutes);
}

void TTimeDlg::output()
{
    if (grid)
        grid->SetCell(col, row, Format("%.2d:%.2d", hours, minutes));
}

// ---- TCheck

void TCheck::input()
{
    if (checkbox)
        checked = checkbox->Checked() ? 1 : 0;
    action = 2;
}

void TCheck::getp()
{
    checked = static_cast<uint8_t>(NumberGet(code) & 0xFF);
}

void TCheck::setp()
{
    if (checked == 0)
        NumberSet(code, 0);
    else if (checked == 1)
        NumberSet(code, 1);
}

void TCheck::output()
{
    if (!checkbox)
        return;
    // Setting the state raises the box's click; the screen acts on clicks
    // only while the box is enabled, so showing a value never writes it.
    checkbox->SetEnabled(false);
    checkbox->SetChecked(checked != 0);
    checkbox->SetEnabled(true);
}

std::string TCheck::text()
{
    return checked != 0 ? "Установлен" : "Снят";
}

}  // namespace kv
