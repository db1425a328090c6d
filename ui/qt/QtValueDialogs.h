// The value dialogs and the collection dialogs as Qt dialogs.
//
// Each Execute shows its T...Dialog modally over the parent (the main
// window) and returns whether it was closed with "OK"; the dialog has
// passed every user action into the form by then. UI thread only.
#pragma once

#include <QPointer>
#include <QWidget>

#include "collections/Dialogs.h"
#include "settings/ValueDialogs.h"

namespace kv {

class TQtValueDialogs : public TValueDialogs {
public:
    explicit TQtValueDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    bool Execute(TFormDirectory& form) override;
    bool Execute(TFormChoice& form) override;
    bool Execute(TFormNumber& form) override;
    bool Execute(TFormTime& form) override;
    bool Execute(TFormCode& form) override;

private:
    QPointer<QWidget> parent_;
};

// Confirm: question icon, OK and Cancel. AskYesNo: question icon, Yes and No.
class TQtCollectionDialogs : public TCollectionDialogs {
public:
    explicit TQtCollectionDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    bool Confirm(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool Execute(TFormList2& form) override;
    bool Execute(TFormMenuItm& form) override;
    bool Execute(TFormMailAdd& form) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace kv
