#include "ScriptedDialogs.h"

namespace kv {

void TScriptedDialogs::AnswerPassword(const std::string& text)
{
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back({true, true, text});
}

void TScriptedDialogs::AnswerUntouched()
{
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back({true, false, ""});
}

void TScriptedDialogs::AnswerCancel()
{
    std::lock_guard<std::mutex> g(m_);
    answers_.push_back({false, false, ""});
}

void TScriptedDialogs::OnShow(std::function<void(const TShown&)> hook)
{
    std::lock_guard<std::mutex> g(m_);
    hook_ = std::move(hook);
}

std::vector<TScriptedDialogs::TShown> TScriptedDialogs::Shown() const
{
    std::lock_guard<std::mutex> g(m_);
    return shown_;
}

std::vector<std::string> TScriptedDialogs::Messages() const
{
    std::lock_guard<std::mutex> g(m_);
    std::vector<std::string> out;
    for (const auto& s : shown_)
        if (s.kind != TKind::Password)
            out.push_back(s.text);
    return out;
}

void TScriptedDialogs::Clear()
{
    std::lock_guard<std::mutex> g(m_);
    shown_.clear();
}

void TScriptedDialogs::record(TShown shown)
{
    std::function<void(const TShown&)> hook;
    {
        std::lock_guard<std::mutex> g(m_);
        shown_.push_back(shown);
        hook = hook_;
    }
    if (hook)
        hook(shown);
}

void TScriptedDialogs::MessageWithDetails(TMessageKind kind, const std::string& text, const std::string& details)
{
    record({kind == TMessageKind::Error ? TKind::Error : TKind::Warning, text, details});
}

void TScriptedDialogs::Message(TMessageKind kind, const std::string& text)
{
    record({kind == TMessageKind::Error ? TKind::Error : TKind::Warning, text});
}

TPasswordAnswer TScriptedDialogs::Password()
{
    TPasswordAnswer answer;
    {
        std::lock_guard<std::mutex> g(m_);
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
    }
    record({TKind::Password, answer.text});
    return answer;
}

}  // namespace kv
