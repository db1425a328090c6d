// The table of differences and the snapshot file dialogs, offscreen: the
// rows and check boxes of a restore, ticks going into the form, the
// accepting button only while a row is ticked, the read-only compare, and
// the save dialog proposing a snapshot file.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "tests/ui/QtSupport.h"
#include "ui/qt/QtBackupView.h"

using namespace kv;

namespace {

TFormDifferences RestoreForm()
{
    TFormDifferences form(TFormDifferences::Restore, "Восстановление из снимка unit.kvs");
    form.AddRow({"Дневной номер оператора", "\"300\"", "\"200\"", {}, true, true});
    form.AddRow({"Версия прошивки", "\"1.2.4\"", "\"1.2.3\"", {}, false, false});
    form.AddRow({"Ящик 500 (DELETE)", "\"05:00\"", "нет", {}, true, true});
    form.SetNote("83 системных значений снимка не сравнивались: подключение в режиме администратора.");
    return form;
}

TEST(DifferencesDialog, TicksGoIntoTheFormAndRestoreNeedsOne)
{
    TFormDifferences form = RestoreForm();
    TDifferencesDialog dialog(form);
    EXPECT_EQ(dialog.windowTitle(), "Восстановление из снимка unit.kvs");
    QTableWidget* table = test::Child<QTableWidget>(&dialog, "sgDifferences");
    ASSERT_EQ(table->rowCount(), 3);
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "На устройстве");
    EXPECT_EQ(table->item(2, 0)->text(), "Ящик 500 (DELETE)");
    EXPECT_EQ(table->item(2, 2)->text(), "нет");
    EXPECT_EQ(table->item(0, 0)->checkState(), Qt::Checked);
    EXPECT_FALSE(table->item(1, 0)->flags() & Qt::ItemIsUserCheckable);  // the firmware cannot be written
    EXPECT_EQ(test::Child<QLabel>(&dialog, "lblNote")->text().toStdString(), form.Note());
    QPushButton* ok = test::Child<QPushButton>(&dialog, "btnOK");
    EXPECT_EQ(ok->text(), "Восстановить");
    EXPECT_EQ(test::Child<QPushButton>(&dialog, "btnCancel")->text(), "Отмена");

    table->item(0, 0)->setCheckState(Qt::Unchecked);  // as a click on the box does
    EXPECT_FALSE(form.Rows()[0].checked);
    EXPECT_TRUE(ok->isEnabled());
    QTest::mouseClick(test::Child<QPushButton>(&dialog, "btnUncheckAll"), Qt::LeftButton);
    EXPECT_FALSE(form.Rows()[2].checked);
    EXPECT_EQ(table->item(2, 0)->checkState(), Qt::Unchecked);
    EXPECT_FALSE(ok->isEnabled());
    QTest::mouseClick(test::Child<QPushButton>(&dialog, "btnCheckAll"), Qt::LeftButton);
    EXPECT_TRUE(form.Rows()[0].checked && form.Rows()[2].checked);
    EXPECT_FALSE(form.Rows()[1].checked);
    EXPECT_TRUE(ok->isEnabled());
}

TEST(DifferencesDialog, TheViewShowsTheTableModallyAndTheSummaryReadOnly)
{
    QWidget parent;
    TQtBackupView view(&parent);
    test::TModalAnswers answers;
    answers.Add([](QWidget* d) { test::ClickButton(d, "btnOK"); });
    answers.Add([](QWidget* d) {
        EXPECT_EQ(d->findChild<QPushButton*>(QStringLiteral("btnCancel")), nullptr);
        EXPECT_EQ(d->findChild<QPushButton*>(QStringLiteral("btnCheckAll")), nullptr);
        QTableWidget* table = test::Child<QTableWidget>(d, "sgDifferences");
        EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "Результат");
        EXPECT_EQ(table->item(0, 3)->text(), "отказ: List (ADD): Reply: ERROR");
        EXPECT_FALSE(table->item(0, 0)->flags() & Qt::ItemIsUserCheckable);
        test::ClickButton(d, "btnOK");
    });
    TFormDifferences restore = RestoreForm();
    EXPECT_TRUE(view.ExecuteDifferences(restore));
    TFormDifferences summary(TFormDifferences::Summary, "Восстановлено из снимка unit.kvs");
    summary.AddRow({"Добавочные номера: 2x5", "нет", "\"2x5\"", "отказ: List (ADD): Reply: ERROR", false, false});
    EXPECT_TRUE(view.ExecuteDifferences(summary));
    EXPECT_EQ(answers.Unanswered(), 0);

    view.Progress(2, 7, "Меню");
    ASSERT_NE(view.ProgressDialog(), nullptr);
    EXPECT_EQ(view.ProgressDialog()->value(), 2);
    EXPECT_EQ(view.ProgressDialog()->maximum(), 7);
    EXPECT_EQ(view.ProgressDialog()->labelText(), "Меню");
    view.Progress(0, 0, {});
    EXPECT_EQ(view.ProgressDialog(), nullptr);
}

TEST(DifferencesDialog, TheSaveDialogProposesASnapshotFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QWidget parent;
    TQtBackupView view(&parent);
    test::TModalAnswers answers;
    answers.Add([&](QWidget* d) {
        auto* f = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(f->nameFilters().front(), QString::fromUtf8(TQtBackupView::kFilter));
        QLineEdit* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text().toStdString(), ProposedSnapshotName());
        name->setText(dir.filePath("office"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    EXPECT_EQ(view.SnapshotSaveName(), QFile::encodeName(dir.filePath("office.kvs")).toStdString());
    answers.Add([](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); });
    EXPECT_EQ(view.SnapshotOpenName(), "");
    EXPECT_EQ(answers.Pending(), 0u);
}

}  // namespace
