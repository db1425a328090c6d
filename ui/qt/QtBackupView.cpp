#include "ui/qt/QtBackupView.h"

#include <time.h>

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"
#include "ui/qt/FileDialogs.h"

namespace kv {

// ---- the table

TDifferencesDialog::TDifferencesDialog(TFormDifferences& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("DifferencesDialog"));
    setWindowTitle(Q(form.Caption()));
    auto* layout = new QVBoxLayout(this);

    const std::vector<std::string> headers = form.Headers();
    table_ = new QTableWidget(static_cast<int>(form.Rows().size()), static_cast<int>(headers.size()), this);
    table_->setObjectName(QStringLiteral("sgDifferences"));
    QStringList labels;
    for (const std::string& h : headers)
        labels << Q(h);
    table_->setHorizontalHeaderLabels(labels);
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    filling_ = true;
    for (size_t r = 0; r < form.Rows().size(); ++r) {
        const TFormDifferences::TRow& row = form.Rows()[r];
        const std::string cells[] = {row.name, row.unit, row.file, row.result};
        for (size_t c = 0; c < headers.size(); ++c) {
            auto* item = new QTableWidgetItem(Q(cells[c]));
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (c == 0 && row.checkable)
                flags |= Qt::ItemIsUserCheckable;
            item->setFlags(flags);
            table_->setItem(static_cast<int>(r), static_cast<int>(c), item);
        }
    }
    filling_ = false;
    showChecks();
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
    // A tick goes into the form; the table shows what the form then holds.
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_ || item->column() != 0 || !(item->flags() & Qt::ItemIsUserCheckable))
            return;
        form_.SetChecked(static_cast<size_t>(item->row()), item->checkState() == Qt::Checked);
        showChecks();
    });

    auto* note = new QLabel(Q(form.Note()), this);
    note->setObjectName(QStringLiteral("lblNote"));
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note->setVisible(!form.Note().empty());
    layout->addWidget(note);

    auto* buttons = new QHBoxLayout;
    if (form.Kind() == TFormDifferences::Restore) {
        auto* all = new QPushButton(QStringLiteral("Отметить все"), this);
        all->setObjectName(QStringLiteral("btnCheckAll"));
        auto* none = new QPushButton(QStringLiteral("Снять отметки"), this);
        none->setObjectName(QStringLiteral("btnUncheckAll"));
        connect(all, &QPushButton::clicked, this, [this] {
            form_.SetAllChecked(true);
            showChecks();
        });
        connect(none, &QPushButton::clicked, this, [this] {
            form_.SetAllChecked(false);
            showChecks();
        });
        buttons->addWidget(all);
        buttons->addWidget(none);
    }
    buttons->addStretch();
    ok_ = new QPushButton(Q(form.AcceptText()), this);
    ok_->setObjectName(QStringLiteral("btnOK"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(ok_);
    if (!form.CancelText().empty()) {
        auto* cancel = new QPushButton(Q(form.CancelText()), this);
        cancel->setObjectName(QStringLiteral("btnCancel"));
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        buttons->addWidget(cancel);
    }
    layout->addLayout(buttons);
    ok_->setEnabled(form.CanAccept());
    resize(760, 420);
}

void TDifferencesDialog::showChecks()
{
    filling_ = true;
    for (size_t r = 0; r < form_.Rows().size(); ++r)
        if (form_.Rows()[r].checkable)
            table_->item(static_cast<int>(r), 0)->setCheckState(form_.Rows()[r].checked ? Qt::Checked : Qt::Unchecked);
    filling_ = false;
    if (ok_)
        ok_->setEnabled(form_.CanAccept());
}

// ---- the view

std::string ProposedSnapshotName()
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    char name[32];
    const size_t n = ::strftime(name, sizeof name, "unit-%Y%m%d.kvs", &local);
    return std::string(name, n);
}

namespace {

QStringList snapshotFilters()
{
    return {QString::fromUtf8(TQtBackupView::kFilter), QStringLiteral("Все файлы (*)")};
}

std::string chosen(QFileDialog& dialog)
{
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
}

}  // namespace

TQtBackupView::~TQtBackupView()
{
    delete progress_.data();
}

std::string TQtBackupView::SnapshotSaveName()
{
    TSaveFileDialog dialog(parent_);
    dialog.setNameFilters(snapshotFilters());
    dialog.setDefaultSuffix(QStringLiteral("kvs"));
    dialog.selectFile(Q(ProposedSnapshotName()));
    return chosen(dialog);
}

std::string TQtBackupView::SnapshotOpenName()
{
    QFileDialog dialog(parent_);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(snapshotFilters());
    return chosen(dialog);
}

bool TQtBackupView::ExecuteDifferences(TFormDifferences& form)
{
    TDifferencesDialog dialog(form, parent_);
    return ExecModal(dialog) == QDialog::Accepted;
}

QProgressDialog* TQtBackupView::ProgressDialog() const
{
    return progress_;
}

void TQtBackupView::Progress(int done, int total, const std::string& what)
{
    if (total <= 0) {
        delete progress_.data();
        return;
    }
    if (!progress_) {
        progress_ = new QProgressDialog(parent_);
        progress_->setObjectName(QStringLiteral("ProgressDialog"));
        progress_->setWindowTitle(QStringLiteral("Передача данных"));
        progress_->setCancelButton(nullptr);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        SetModalToParent(*progress_);
    }
    progress_->setMaximum(total);
    progress_->setValue(done);
    progress_->setLabelText(Q(what));
    progress_->show();
}

}  // namespace kv
