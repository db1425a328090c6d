#include "ui/qt/QtValueDialogs.h"

#include <QMessageBox>

#include "ui/qt/Choice.h"
#include "ui/qt/Code.h"
#include "ui/qt/DialogKit.h"
#include "ui/qt/Directory.h"
#include "ui/qt/List2.h"
#include "ui/qt/MailAdd.h"
#include "ui/qt/MenuItm.h"
#include "ui/qt/Number.h"
#include "ui/qt/Time.h"

namespace kv {

namespace {

// Shows a dialog of type D over form modally.
template <typename D, typename F>
bool run(F& form, QWidget* parent)
{
    D dialog(form, parent);
    return ExecModal(dialog) == QDialog::Accepted;
}

bool ask(QWidget* parent, const std::string& text, QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton yes)
{
    QMessageBox box(QMessageBox::Question, QString(), Q(text), buttons, parent);
    box.setObjectName(QStringLiteral("MessageDlg"));
    box.setDefaultButton(yes);
    return ExecModal(box) == yes;
}

}  // namespace

bool TQtValueDialogs::Execute(TFormDirectory& form)
{
    return run<TDirectoryDialog>(form, parent_);
}

bool TQtValueDialogs::Execute(TFormChoice& form)
{
    return run<TChoiceDialog>(form, parent_);
}

bool TQtValueDialogs::Execute(TFormNumber& form)
{
    return run<TNumberDialog>(form, parent_);
}

bool TQtValueDialogs::Execute(TFormTime& form)
{
    return run<TTimeDialog>(form, parent_);
}

bool TQtValueDialogs::Execute(TFormCode& form)
{
    return run<TCodeDialog>(form, parent_);
}

bool TQtCollectionDialogs::Confirm(const std::string& text)
{
    return ask(parent_, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
}

bool TQtCollectionDialogs::AskYesNo(const std::string& text)
{
    return ask(parent_, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
}

bool TQtCollectionDialogs::Execute(TFormList2& form)
{
    return run<TList2Dialog>(form, parent_);
}

bool TQtCollectionDialogs::Execute(TFormMenuItm& form)
{
    return run<TMenuItmDialog>(form, parent_);
}

bool TQtCollectionDialogs::Execute(TFormMailAdd& form)
{
    return run<TMailAddDialog>(form, parent_);
}

}  // namespace kv
