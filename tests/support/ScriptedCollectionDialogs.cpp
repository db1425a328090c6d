#include "ScriptedCollectionDialogs.h"

namespace kv {

void TScriptedCollectionDialogs::AnswerConfirm(bool ok)
{
    std::lock_guard<std::mutex> g(m_);
    confirms_.push_back(ok);
}

void TScriptedCollectionDialogs::AnswerYesNo(bool yes)
{
    std::lock_guard<std::mutex> g(m_);
    yesNos_.push_back(yes);
}

void TScriptedCollectionDialogs::AnswerList2(std::function<bool(TFormList2&)> answer)
{
    std::lock_guard<std::mutex> g(m_);
    list2_.push_back(std::move(answer));
}

void TScriptedCollectionDialogs::AnswerMenuItm(std::function<bool(TFormMenuItm&)> answer)
{
    std::lock_guard<std::mutex> g(m_);
    menuItm_.push_back(std::move(answer));
}

void TScriptedCollectionDialogs::AnswerMailAdd(std::function<bool(TFormMailAdd&)> answer)
{
    std::lock_guard<std::mutex> g(m_);
    mailAdd_.push_back(std::move(answer));
}

std::vector<TScriptedCollectionDialogs::TShown> TScriptedCollectionDialogs::Shown() const
{
    std::lock_guard<std::mutex> g(m_);
    return shown_;
}

void TScriptedCollectionDialogs::Clear()
{
    std::lock_guard<std::mutex> g(m_);
    shown_.clear();
}

TFormMenuItm TScriptedCollectionDialogs::LastMenuItmShown() const
{
    std::lock_guard<std::mutex> g(m_);
    return menuItmShown_;
}

TFormMailAdd TScriptedCollectionDialogs::LastMailAddShown() const
{
    std::lock_guard<std::mutex> g(m_);
    return mailAddShown_;
}

TFormMenuItm TScriptedCollectionDialogs::LastMenuItmClosed() const
{
    std::lock_guard<std::mutex> g(m_);
    return menuItmClosed_;
}

TFormMailAdd TScriptedCollectionDialogs::LastMailAddClosed() const
{
    std::lock_guard<std::mutex> g(m_);
    return mailAddClosed_;
}

void TScriptedCollectionDialogs::record(TKind kind, const std::string& text)
{
    std::lock_guard<std::mutex> g(m_);
    shown_.push_back({kind, text});
}

namespace {
template <typename T>
bool takeFront(std::mutex& m, std::deque<T>& q, T& out)
{
    std::lock_guard<std::mutex> g(m);
    if (q.empty())
        return false;
    out = std::move(q.front());
    q.pop_front();
    return true;
}
}  // namespace

bool TScriptedCollectionDialogs::Confirm(const std::string& text)
{
    record(TKind::Confirm, text);
    bool ok = false;
    return takeFront(m_, confirms_, ok) && ok;
}

bool TScriptedCollectionDialogs::AskYesNo(const std::string& text)
{
    record(TKind::YesNo, text);
    bool yes = false;
    return takeFront(m_, yesNos_, yes) && yes;
}

bool TScriptedCollectionDialogs::Execute(TFormList2& form)
{
    record(TKind::List2, TFormList2::kCaption);
    std::function<bool(TFormList2&)> answer;
    return takeFront(m_, list2_, answer) && answer(form);
}

bool TScriptedCollectionDialogs::Execute(TFormMenuItm& form)
{
    record(TKind::MenuItm, TFormMenuItm::kCaption);
    {
        std::lock_guard<std::mutex> g(m_);
        menuItmShown_ = form;
    }
    std::function<bool(TFormMenuItm&)> answer;
    const bool ok = takeFront(m_, menuItm_, answer) && answer(form);
    std::lock_guard<std::mutex> g(m_);
    menuItmClosed_ = form;
    return ok;
}

bool TScriptedCollectionDialogs::Execute(TFormMailAdd& form)
{
    record(TKind::MailAdd, form.Caption());
    {
        std::lock_guard<std::mutex> g(m_);
        mailAddShown_ = form;
    }
    std::function<bool(TFormMailAdd&)> answer;
    const bool ok = takeFront(m_, mailAdd_, answer) && answer(form);
    std::lock_guard<std::mutex> g(m_);
    mailAddClosed_ = form;
    return ok;
}

}  // namespace kv
