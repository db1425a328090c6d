#include "ui/qt/TraceDialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QFile>
#include <QVBoxLayout>

#include "session/Dialogs.h"
#include "ui/Export.h"
#include "ui/qt/FileDialogs.h"

namespace kv {

TTraceDialog::TTraceDialog(TTraceLog& log, QWidget* parent) : QWidget(parent, Qt::Window), log_(log)
{
    setObjectName(QStringLiteral("TraceWindow"));
    setWindowTitle(QString::fromUtf8(kCaption));
    view_ = new QPlainTextEdit(this);
    view_->setObjectName(QStringLiteral("memTrace"));
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setAccessibleName(QString::fromUtf8(kCaption));
    save_ = new QPushButton(QString::fromUtf8(kSaveCaption), this);
    save_->setObjectName(QStringLiteral("btnTraceSave"));
    clear_ = new QPushButton(QString::fromUtf8(kClearCaption), this);
    clear_->setObjectName(QStringLiteral("btnTraceClear"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    resize(720, 420);

    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
    connect(clear_, &QPushButton::clicked, this, [this] { log_.Clear(); });
    // The trace tells once per change until it is read; the update runs
    // here, on the UI thread, whoever recorded.
    log_.SetOnChange([this] { QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection); });
}

TTraceDialog::~TTraceDialog()
{
    log_.SetOnChange(nullptr);
}

void TTraceDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void TTraceDialog::refresh()
{
    // A hidden window reads nothing; it is told again once it reads.
    if (!isVisible())
        return;
    const TTraceDelta d = log_.Since(lastSeq_);
    QScrollBar* bar = view_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    if (d.reset)
        shown_.clear();
    // The open line is the last block shown; it goes, a newer one follows.
    if (openShown_ && !shown_.empty()) {
        QTextCursor cursor(view_->document());
        cursor.movePosition(QTextCursor::End);
        cursor.select(QTextCursor::BlockUnderCursor);
        cursor.removeSelectedText();
    }
    // Lines the trace no longer keeps leave the top.
    int gone = 0;
    while (!shown_.empty() && shown_.front() < d.firstSeq) {
        shown_.pop_front();
        ++gone;
    }
    if (shown_.empty()) {
        QString text;
        for (const auto& line : d.lines) {
            if (!text.isEmpty())
                text += u'\n';
            text += QString::fromStdString(line.Format());
            shown_.push_back(line.seq);
        }
        if (!d.open.empty())
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(d.open);
        view_->setPlainText(text);
    } else {
        if (gone > 0) {
            QTextCursor top(view_->document());
            top.movePosition(QTextCursor::Start);
            top.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, gone);
            top.removeSelectedText();
        }
        for (const auto& line : d.lines) {
            view_->appendPlainText(QString::fromStdString(line.Format()));
            shown_.push_back(line.seq);
        }
        if (!d.open.empty())
            view_->appendPlainText(QString::fromStdString(d.open));
    }
    openShown_ = !d.open.empty();
    lastSeq_ = d.lastSeq;
    if (atEnd)
        bar->setValue(bar->maximum());
}

void TTraceDialog::Save()
{
    TSaveFileDialog dialog(this);
    dialog.setWindowTitle(QString::fromUtf8(kCaption));
    dialog.setNameFilters({QStringLiteral("Текстовые файлы (*.txt)"), QStringLiteral("Все файлы (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QString::fromUtf8(kProposedFile));
    // Modal to the whole program: it may be opened over a message of the
    // main window, whose loop can only end after this one has.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    SaveTo(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

bool TTraceDialog::SaveTo(const std::string& path)
{
    TReportFile file;
    if (!file.Create(path) || !file.Commit(log_.Text())) {
        ShowError(file.Error());
        return false;
    }
    return true;
}

}  // namespace kv
