#include "settings/View.h"

#include "session/Joint.h"

namespace kv {

namespace {

void setGridCell(TGridModel* grid, int32_t col, int32_t row, const std::string& text)
{
    if (grid)
        grid->SetCell(col, row, text);
}

std::string gridCell(TGridModel* grid, int32_t col, int32_t row)
{
    return grid ? grid->Cell(col, row) : std::string();
}

}  // namespace

void InstallGridCellAccess()
{
    static std::once_flag once;
    std::call_once(once, [] { SetGridCellAccess(&setGridCell, &gridCell); });
}

// ---- TGridModel

TGridModel::TGridModel(std::string name, int colCount, int rowCount)
    : name_(std::move(name)), colCount_(colCount < 0 ? 0 : colCount), rowCount_(rowCount < 0 ? 0 : rowCount)
{
    InstallGridCellAccess();
}

int TGridModel::ColCount() const
{
    std::lock_guard<std::mutex> g(m_);
    return colCount_;
}

int TGridModel::RowCount() const
{
    std::lock_guard<std::mutex> g(m_);
    return rowCount_;
}

void TGridModel::SetColCount(int count)
{
    {
        std::lock_guard<std::mutex> g(m_);
        colCount_ = count < 0 ? 0 : count;
    }
    changed.Notify(TGridChange{TGridChange::Size, -1, -1});
}

void TGridModel::SetRowCount(int count)
{
    {
        std::lock_guard<std::mutex> g(m_);
        rowCount_ = count < 0 ? 0 : count;
    }
    changed.Notify(TGridChange{TGridChange::Size, -1, -1});
}

std::string TGridModel::Cell(int col, int row) const
{
    std::lock_guard<std::mutex> g(m_);
    auto it = cells_.find({col, row});
    return it == cells_.end() ? std::string() : it->second.text;
}

void TGridModel::SetCell(int col, int row, const std::string& text)
{
    if (col < 0 || row < 0)
        return;
    {
        std::lock_guard<std::mutex> g(m_);
        cells_[{col, row}].text = text;
    }
    changed.Notify(TGridChange{TGridChange::Cell, col, row});
}

TJoint1* TGridModel::Object(int col, int row) const
{
    std::lock_guard<std::mutex> g(m_);
    auto it = cells_.find({col, row});
    return it == cells_.end() ? nullptr : it->second.object;
}

void TGridModel::SetObject(int col, int row, TJoint1* object)
{
    if (col < 0 || row < 0)
        return;
    std::lock_guard<std::mutex> g(m_);
    cells_[{col, row}].object = object;
}

int TGridModel::Col() const
{
    std::lock_guard<std::mutex> g(m_);
    return col_;
}

int TGridModel::Row() const
{
    std::lock_guard<std::mutex> g(m_);
    return row_;
}

void TGridModel::SetCurrent(int col, int row)
{
    if (col < 0 || row < 0)
        return;
    {
        std::lock_guard<std::mutex> g(m_);
        if (col == col_ && row == row_)
            return;
        col_ = col;
        row_ = row;
    }
    currentChanged.Notify();
}

std::vector<std::string> TGridModel::Headers() const
{
    return RowTexts(0);
}

std::vector<std::string> TGridModel::RowTexts(int row) const
{
    std::lock_guard<std::mutex> g(m_);
    std::vector<std::string> texts;
    for (int col = 0; col < colCount_; ++col) {
        auto it = cells_.find({col, row});
        texts.push_back(it == cells_.end() ? std::string() : it->second.text);
    }
    return texts;
}

// ---- TTextField

std::string TTextField::Text() const
{
    std::lock_guard<std::mutex> g(m_);
    return text_;
}

void TTextField::SetText(const std::string& text)
{
    {
        std::lock_guard<std::mutex> g(m_);
        text_ = text;
    }
    changed.Notify();
}

bool TTextField::Enabled() const
{
    std::lock_guard<std::mutex> g(m_);
    return enabled_;
}

void TTextField::SetEnabled(bool enabled)
{
    {
        std::lock_guard<std::mutex> g(m_);
        enabled_ = enabled;
    }
    changed.Notify();
}

// ---- TStatusPanel

std::string TStatusPanel::Text() const
{
    std::lock_guard<std::mutex> g(m_);
    return text_;
}

void TStatusPanel::SetText(const std::string& text)
{
    {
        std::lock_guard<std::mutex> g(m_);
        text_ = text;
    }
    changed.Notify();
}

// ---- TCheckBox

bool TCheckBox::Checked() const
{
    std::lock_guard<std::mutex> g(m_);
    return checked_;
}

void TCheckBox::SetChecked(bool checked)
{
    {
        std::lock_guard<std::mutex> g(m_);
        if (checked_ == checked)
            return;
        checked_ = checked;
    }
    changed.Notify();
    clicked.Notify();
}

bool TCheckBox::Enabled() const
{
    std::lock_guard<std::mutex> g(m_);
    return enabled_;
}

void TCheckBox::SetEnabled(bool enabled)
{
    {
        std::lock_guard<std::mutex> g(m_);
        if (enabled_ == enabled)
            return;
        enabled_ = enabled;
    }
    changed.Notify();
}

void TCheckBox::Click()
{
    bool checked;
    {
        std::lock_guard<std::mutex> g(m_);
        if (!enabled_)
            return;
        checked = !checked_;
    }
    SetChecked(checked);
}

// ---- TLinesModel

std::vector<std::string> TLinesModel::Lines() const
{
    std::lock_guard<std::mutex> g(m_);
    return lines_;
}

void TLinesModel::SetLines(std::vector<std::string> lines)
{
    {
        std::lock_guard<std::mutex> g(m_);
        lines_ = std::move(lines);
    }
    changed.Notify();
}

void TLinesModel::Add(const std::string& line)
{
    {
        std::lock_guard<std::mutex> g(m_);
        lines_.push_back(line);
    }
    changed.Notify();
}

std::string TLinesModel::Text() const
{
    std::lock_guard<std::mutex> g(m_);
    std::string text;
    for (const auto& line : lines_)
        text += line + "\r\n";
    return text;
}

}  // namespace kv

namespace kv {

// ---- TTimePickerModel

int TTimePickerModel::Hours() const
{
    std::lock_guard<std::mutex> g(m_);
    return hours_;
}

int TTimePickerModel::Minutes() const
{
    std::lock_guard<std::mutex> g(m_);
    return minutes_;
}

int TTimePickerModel::Seconds() const
{
    std::lock_guard<std::mutex> g(m_);
    return seconds_;
}

void TTimePickerModel::SetTime(int hours, int minutes, int seconds)
{
    {
        std::lock_guard<std::mutex> g(m_);
        hours_ = hours;
        minutes_ = minutes;
        seconds_ = seconds;
    }
    changed.Notify();
}

void TTimePickerModel::UserSetTime(int hours, int minutes, int seconds)
{
    SetTime(hours, minutes, seconds);
    edited.Notify();
}

// ---- TCalendarModel

bool IsValidDate(int year, int month, int day)
{
    if (month < 1 || month > 12 || day < 1)
        return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = month == 2 && leap ? 29 : days[month - 1];
    return day <= last;
}

TDate TCalendarModel::Date() const
{
    std::lock_guard<std::mutex> g(m_);
    return date_;
}

bool TCalendarModel::setLocked(const TDate& date)
{
    if (!IsValidDate(date.year, date.month, date.day) || date < MinDate)
        return false;
    date_ = date;
    return true;
}

void TCalendarModel::SetDate(const TDate& date)
{
    bool taken;
    {
        std::lock_guard<std::mutex> g(m_);
        taken = setLocked(date);
    }
    if (taken)
        changed.Notify();
}

void TCalendarModel::UserClick(const TDate& date)
{
    SetDate(date);
    clicked.Notify();
}

// ---- TCoreTimer

void TCoreTimer::Start()
{
    if (!enabled_.exchange(true))
        enabledChanged.Notify(true);
}

void TCoreTimer::Stop()
{
    if (enabled_.exchange(false))
        enabledChanged.Notify(false);
}

bool TCoreTimer::Fire()
{
    if (!enabled_.load() || !onTimer)
        return false;
    onTimer();
    return true;
}

}  // namespace kv
