#include "settings/Settings.h"

#include "session/Dialogs.h"
#include "settings/ValueDialogs.h"

namespace kv {

namespace {
const char* const kNotAssigned = "Не назначен";
const char* const kUndefined = "Не определен";

// A decimal number within low..high.
bool numberWithin(std::string_view wire, int32_t low, int32_t high, std::string& why)
{
    int32_t n = 0;
    if (!ParseDecimal(wire, n)) {
        why = "не число";
        return false;
    }
    if (n < low || n > high) {
        why = Format("%d вне допустимого (%d-%d)", n, low, high);
        return false;
    }
    return true;
}
}  // namespace

// ---- TDirectory

bool TDirectory::Accepts(std::string_view digits, std::string& why) const
{
    // The edit field's own rule.
    if (TFormDirectory::TextAllowed(std::string(digits), maxLength, allowStar != 0))
        return true;
    if (TFormDirectory::TextAllowed(std::string(digits), 0, allowStar != 0))
        why = Format("длиннее %d знаков", maxLength);
    else
        why = allowStar ? "допустимы только цифры и \"*\"" : "допустимы только цифры";
    return false;
}

bool TDirectory::CheckWire(std::string_view wire, std::string& why) const
{
    if (!Accepts(wire, why))
        return false;
    if (!wire.empty() && wire.size() < static_cast<size_t>(minLength < 0 ? 0 : minLength)) {
        why = Format("короче %d знаков", minLength);
        return false;
    }
    return true;
}

void TDirectory::input()
{
    action = 0;
    TFormDirectory form(value, maxLength, allowStar != 0);
    if (!ValueDialogs().Execute(form) || form.Text() == value)
        return;
    // The field's key filter is not the only way in (a paste, a drop): the
    // text is held against the rule once more before it is written.
    std::string why;
    if (!Accepts(form.Text(), why)) {
        ShowError("Значение не записано: " + why + ".");
        return;
    }
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

void TVFDirectory::unread()
{
    if (edit)
        edit->SetText(kNotRead);
}

std::string TVFDirectory::text()
{
    if (!valueRead)
        return kNotRead;
    return edit ? edit->Text() : kUndefined;
}

// ---- TChoice

bool TChoice::CheckWire(std::string_view wire, std::string& why) const
{
    const int32_t last = static_cast<int32_t>(items.size()) - 1;
    if (!numberWithin(wire, 0, last, why)) {
        int32_t n = 0;
        if (ParseDecimal(wire, n))
            why = Format("%d вне списка (0-%d)", n, last);
        return false;
    }
    return true;
}

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

bool TNumber::CheckWire(std::string_view wire, std::string& why) const
{
    return numberWithin(wire, min, max, why);
}

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

bool TVFCode::CheckWire(std::string_view wire, std::string& why) const
{
    return numberWithin(wire, 0, 10, why);
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

void TVFCode::unread()
{
    if (control)
        control->SetText(kNotRead);
}

std::string TVFCode::text()
{
    if (!valueRead)
        return kNotRead;
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

void TVersion::unread()
{
    if (panel)
        panel->SetText(std::string("Версия прошивки: ") + kNotRead);
}

std::string TVersion::text()
{
    if (!valueRead)
        return kNotRead;
    return FirmwareVersionText(value);
}

// ---- TTimeDlg

bool TTimeDlg::CheckWire(std::string_view wire, std::string& why) const
{
    int32_t n = 0;
    if (!numberWithin(wire, 0, 2359, why))
        return false;
    ParseDecimal(wire, n);
    if (n % 100 > 59) {
        why = Format("%d не время суток (ЧЧММ)", n);
        return false;
    }
    return true;
}

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

bool TCheck::CheckWire(std::string_view wire, std::string& why)
{
    return numberWithin(wire, 0, 255, why);
}

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
    if (!valueRead)
        return kNotRead;
    return checked != 0 ? "Установлен" : "Снят";
}

// ---- wire values ------------------------------------------------------------

std::string TDirectory::WireValue() const
{
    return value;
}

bool TDirectory::SetWireValue(const std::string& wire)
{
    value = wire;
    return true;
}

std::string TChoice::WireValue() const
{
    return std::to_string(index);
}

bool TChoice::SetWireValue(const std::string& wire)
{
    int32_t n = 0;
    if (!ParseDecimal(wire, n))
        return false;
    index = n;
    return true;
}

std::string TNumber::WireValue() const
{
    return std::to_string(value);
}

bool TNumber::SetWireValue(const std::string& wire)
{
    int32_t n = 0;
    if (!ParseDecimal(wire, n))
        return false;
    value = n;
    return true;
}

std::string TTimeDlg::WireValue() const
{
    return std::to_string(hours * 100 + minutes);
}

bool TTimeDlg::SetWireValue(const std::string& wire)
{
    int32_t n = 0;
    if (!ParseDecimal(wire, n))
        return false;
    // As the unit's number is read: hours, and what is left of it.
    hours = n / 100;
    minutes = n - hours * 100;
    return true;
}

std::string TCheck::WireValue() const
{
    return std::to_string(checked);
}

bool TCheck::SetWireValue(const std::string& wire)
{
    int32_t n = 0;
    if (!ParseDecimal(wire, n))
        return false;
    checked = static_cast<uint8_t>(n);
    return true;
}

}  // namespace kv
