#include "ui/qt/FileDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/qt/DialogKit.h"

namespace kv {

namespace {

std::optional<std::string> chosen(QFileDialog& dialog)
{
    if (ExecModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty())
        return std::nullopt;
    return QFile::encodeName(files.front()).toStdString();
}

// A name the unit proposes may not lead the dialog to another folder.
QString lastComponent(const std::string& name)
{
    const QString n = QString::fromStdString(name);
    return n.mid(n.lastIndexOf(u'/') + 1);
}

}  // namespace

TSaveFileDialog::TSaveFileDialog(QWidget* parent) : QFileDialog(parent)
{
    setObjectName(QStringLiteral("SaveDialog1"));
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
}

void TSaveFileDialog::accept()
{
    const QStringList files = selectedFiles();
    if (!files.isEmpty() && !files.front().isEmpty()) {
        const QFileInfo info(files.front());
        if (!info.isDir() && !info.absoluteDir().exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 QCoreApplication::translate("QFileDialog",
                                                             "%1\nDirectory not found.\nPlease verify the "
                                                             "correct directory name was given.")
                                     .arg(QDir::toNativeSeparators(info.absolutePath())));
            return;
        }
    }
    QFileDialog::accept();
}

std::optional<std::string> AskUploadFile(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return chosen(dialog);
}

std::optional<std::string> AskDownloadFile(QWidget* parent, const std::string& proposedName)
{
    TSaveFileDialog dialog(parent);
    dialog.selectFile(lastComponent(proposedName));
    return chosen(dialog);
}

std::optional<std::string> AskExportFile(QWidget* parent)
{
    TSaveFileDialog dialog(parent);
    // The patterns match without regard to case, so "*.txt" also finds
    // "*.TXT"; "*" takes every name, with an extension or without.
    dialog.setNameFilters({QStringLiteral("Текстовые файлы (*.txt)"), QStringLiteral("Все файлы (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("settings.txt"));
    return chosen(dialog);
}

}  // namespace kv
