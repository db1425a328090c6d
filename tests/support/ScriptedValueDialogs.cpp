#include "ScriptedValueDialogs.h"

namespace kv {

void TScriptedValueDialogs::AnswerDirectory(const std::string& keys, bool clear, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Directory;
    a.ok = ok;
    a.directory = [keys, clear](TFormDirectory& form) {
        if (clear)
            while (!form.Text().empty())
                form.KeyPress(8);
        form.Type(keys);
    };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerChoice(int index, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Choice;
    a.ok = ok;
    a.choice = [index](TFormChoice& form) {
        if (index >= 0)
            form.Select(index);
    };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerNumber(int position, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Number;
    a.ok = ok;
    a.number = [position](TFormNumber& form) { form.SetPosition(position); };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerNumberSteps(int steps, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Number;
    a.ok = ok;
    a.number = [steps](TFormNumber& form) {
        for (int i = 0; i < steps; ++i)
            form.Up();
        for (int i = 0; i > steps; --i)
            form.Down();
    };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerTime(int hours, int minutes, int seconds, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Time;
    a.ok = ok;
    a.time = [=](TFormTime& form) { form.SetTime(hours, minutes, seconds); };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerTimeUntouched(bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Time;
    a.ok = ok;
    a.time = [](TFormTime&) {};
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerCode(int code, bool ok)
{
    TAnswer a;
    a.kind = TValueDialogKind::Code;
    a.ok = ok;
    a.code = [code](TFormCode& form) {
        if (code >= 0)
            form.Check(code);
    };
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

void TScriptedValueDialogs::AnswerCancel()
{
    TAnswer a;
    a.any = true;
    a.ok = false;
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back(std::move(a));
}

std::vector<TScriptedValueDialogs::TShown> TScriptedValueDialogs::Shown() const
{
    std::lock_guard<std::mutex> g(m_);
    return shown_;
}

size_t TScriptedValueDialogs::Pending() const
{
    std::lock_guard<std::mutex> g(m_);
    return answers_.size();
}

void TScriptedValueDialogs::Clear()
{
    std::lock_guard<std::mutex> g(m_);
    answers_.clear();
    shown_.clear();
}

bool TScriptedValueDialogs::take(TValueDialogKind kind, TAnswer& answer)
{
    std::lock_guard<std::mutex> g(m_);
    if (answers_.empty() || (!answers_.front().any && answers_.front().kind != kind))
        return false;
    answer = std::move(answers_.front());
    answers_.pop_front();
    return true;
}

void TScriptedValueDialogs::record(TShown shown)
{
    std::lock_guard<std::mutex> g(m_);
    shown_.push_back(std::move(shown));
}

bool TScriptedValueDialogs::Execute(TFormDirectory& form)
{
    TShown s;
    s.kind = TValueDialogKind::Directory;
    s.caption = TFormDirectory::Caption;
    s.text = form.Text();
    s.maxLength = form.MaxLength();
    s.allowStar = form.AllowStar();
    TAnswer a;
    s.expected = take(s.kind, a);
    if (s.expected && a.directory)
        a.directory(form);
    bool ok = s.expected && a.ok;
    s.ok = ok;
    record(std::move(s));
    return ok;
}

bool TScriptedValueDialogs::Execute(TFormChoice& form)
{
    TShown s;
    s.kind = TValueDialogKind::Choice;
    s.caption = TFormChoice::Caption;
    s.items = form.Items();
    s.index = form.ItemIndex();
    TAnswer a;
    s.expected = take(s.kind, a);
    if (s.expected && a.choice)
        a.choice(form);
    bool ok = s.expected && a.ok;
    s.ok = ok;
    record(std::move(s));
    return ok;
}

bool TScriptedValueDialogs::Execute(TFormNumber& form)
{
    TShown s;
    s.kind = TValueDialogKind::Number;
    s.caption = TFormNumber::Caption;
    s.position = form.Position();
    s.min = form.Min();
    s.max = form.Max();
    TAnswer a;
    s.expected = take(s.kind, a);
    if (s.expected && a.number)
        a.number(form);
    bool ok = s.expected && a.ok;
    s.ok = ok;
    record(std::move(s));
    return ok;
}

bool TScriptedValueDialogs::Execute(TFormTime& form)
{
    TShown s;
    s.kind = TValueDialogKind::Time;
    s.caption = TFormTime::Caption;
    s.hours = form.Hours();
    s.minutes = form.Minutes();
    s.seconds = form.Seconds();
    TAnswer a;
    s.expected = take(s.kind, a);
    if (s.expected && a.time)
        a.time(form);
    bool ok = s.expected && a.ok;
    s.ok = ok;
    record(std::move(s));
    return ok;
}

bool TScriptedValueDialogs::Execute(TFormCode& form)
{
    TShown s;
    s.kind = TValueDialogKind::Code;
    s.caption = TFormCode::Caption;
    s.code = form.InitialCode();
    TAnswer a;
    s.expected = take(s.kind, a);
    if (s.expected && a.code)
        a.code(form);
    bool ok = s.expected && a.ok;
    s.ok = ok;
    record(std::move(s));
    return ok;
}

}  // namespace kv
