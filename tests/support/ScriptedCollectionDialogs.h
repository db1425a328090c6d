// Collection dialogs that answer from a script and record what was shown,
// for tests and headless tools.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "collections/Dialogs.h"

namespace kv {

class TScriptedCollectionDialogs : public TCollectionDialogs {
public:
    enum class TKind { Confirm, YesNo, List2, MenuItm, MailAdd };
    struct TShown {
        TKind kind;
        // The question's text, or the form's caption.
        std::string text;
        bool operator==(const TShown&) const = default;
    };

    // In force (TInstallDialogs) from construction to destruction.
    TScriptedCollectionDialogs() = default;

    // Next answers, in order, per kind of dialog. A form answer acts on the
    // form as the user would and returns true for "OK". Once a kind's
    // script is used up its dialogs are cancelled.
    void AnswerConfirm(bool ok);
    void AnswerYesNo(bool yes);
    void AnswerList2(std::function<bool(TFormList2&)> answer);
    void AnswerMenuItm(std::function<bool(TFormMenuItm&)> answer);
    void AnswerMailAdd(std::function<bool(TFormMailAdd&)> answer);

    std::vector<TShown> Shown() const;
    void Clear();

    // Copies of the last form of each kind as it was shown (before the
    // answer acted on it) and as it closed.
    TFormMenuItm LastMenuItmShown() const;
    TFormMailAdd LastMailAddShown() const;
    TFormMenuItm LastMenuItmClosed() const;
    TFormMailAdd LastMailAddClosed() const;

    bool Confirm(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool Execute(TFormList2& form) override;
    bool Execute(TFormMenuItm& form) override;
    bool Execute(TFormMailAdd& form) override;

private:
    void record(TKind kind, const std::string& text);

    mutable std::mutex m_;
    std::deque<bool> confirms_;
    std::deque<bool> yesNos_;
    std::deque<std::function<bool(TFormList2&)>> list2_;
    std::deque<std::function<bool(TFormMenuItm&)>> menuItm_;
    std::deque<std::function<bool(TFormMailAdd&)>> mailAdd_;
    std::vector<TShown> shown_;
    TFormMenuItm menuItmShown_, menuItmClosed_;
    TFormMailAdd mailAddShown_, mailAddClosed_;
    TInstallDialogs<TCollectionDialogs> installed_{*this};
};

}  // namespace kv
