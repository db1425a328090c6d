#include "ui/qt/QtDialogs.h"

#include <QMessageBox>
#include <stdexcept>

#include "ui/qt/DialogKit.h"
#include "ui/qt/PasswordDialog.h"

namespace kv {

QString MessageText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

void TQtDialogs::Message(TMessageKind kind, const std::string& text)
{
    MessageWithDetails(kind, text, {});
}

void TQtDialogs::MessageWithDetails(TMessageKind kind, const std::string& text, const std::string& details)
{
    QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning, QString(),
                    MessageText(text), QMessageBox::Ok, parent_);
    box.setObjectName(QStringLiteral("MessageDlg"));
    box.setTextFormat(Qt::PlainText);
    if (!details.empty())
        box.setDetailedText(MessageText(details));
    ExecModal(box);
}

TPasswordAnswer TQtDialogs::Password()
{
    TFormPassword form;
    TPasswordDialog dialog(form, parent_);
    const bool ok = ExecModal(dialog) == QDialog::Accepted;
    return form.Answer(ok);
}

void ShowExceptionMessage(std::exception_ptr e)
{
    std::string text;
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        text = x.what();
    } catch (...) {
        text = "Unknown exception";
    }
    Dialogs().Message(TMessageKind::Error, text);
}

}  // namespace kv
