// The Qt side of the window's backup actions: the table of differences
// over TFormDifferences, and TQtBackupView, which gives TFormBackup the
// snapshot file dialogs, that table and a progress dialog for long runs.
#pragma once

#include <QDialog>
#include <QPointer>
#include <string>

#include "ui/FormBackup.h"

class QLabel;
class QProgressDialog;
class QPushButton;
class QTableWidget;

namespace kv {

// "Сравнение со снимком ...", "Восстановление из снимка ...",
// "Восстановлено из снимка ...": the table sgDifferences, one row per
// difference, a check box in the first cell of each row a restore can
// write; "Отметить все" and "Снять отметки" in a restore; the note lblNote;
// the buttons btnOK (the form's accepting text) and, in a restore,
// btnCancel. Every tick goes into the form, and btnOK is usable only while
// the form allows it.
class TDifferencesDialog : public QDialog {
public:
    TDifferencesDialog(TFormDifferences& form, QWidget* parent = nullptr);

    QTableWidget* Table() const { return table_; }

private:
    void showChecks();

    TFormDifferences& form_;
    QTableWidget* table_;
    QPushButton* ok_ = nullptr;
    bool filling_ = false;
};

class TQtBackupView : public TBackupView {
public:
    static constexpr const char* kFilter = "Снимки настроек (*.kvs)";

    explicit TQtBackupView(QWidget* parent) : parent_(parent) {}
    ~TQtBackupView() override;

    std::string SnapshotSaveName() override;
    std::string SnapshotOpenName() override;
    bool ExecuteDifferences(TFormDifferences& form) override;
    void Progress(int done, int total, const std::string& what) override;

    // The progress dialog while a run shows one.
    QProgressDialog* ProgressDialog() const;

private:
    QWidget* parent_;
    QPointer<QProgressDialog> progress_;
};

// The name a new snapshot is offered under: "unit-YYYYMMDD.kvs".
std::string ProposedSnapshotName();

}  // namespace kv
