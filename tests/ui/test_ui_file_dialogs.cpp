// The open and save dialogs of the screens and the export.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include "tests/ui/QtSupport.h"
#include "ui/qt/FileDialogs.h"

namespace kv {
namespace {

QLineEdit* NameField(QWidget* d)
{
    return d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Puts path into the dialog's name field and presses Enter.
void Choose(QWidget* d, const QString& path)
{
    QLineEdit* name = NameField(d);
    ASSERT_NE(name, nullptr);
    name->setText(path);
    QTest::keyClick(name, Qt::Key_Return);
}

TEST(FileDialogs, ExportProposesTheReportAndNeedsAnExistingFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::TModalAnswers answers;
    answers.Add([&dir](QWidget* d) {
        auto* f = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(f->nameFilters(), (QStringList{"Текстовые файлы (*.txt)", "Все файлы (*)"}));
        EXPECT_EQ(f->defaultSuffix(), "txt");
        EXPECT_EQ(NameField(d)->text(), "settings.txt");
        test::SaveScreen(d, "dialog-Export");
        Choose(d, dir.filePath("missing/report"));  // a folder that is not there
    });
    bool warned = false;
    answers.Add([&](QWidget* m) {
        warned = qobject_cast<QMessageBox*>(m) != nullptr;
        QTest::keyClick(m, Qt::Key_Return);
        // The save dialog is still open: a name in an existing folder.
        QWidget* save = m->parentWidget();
        QMetaObject::invokeMethod(save, [save, &dir] { Choose(save, dir.filePath("report")); },
                                  Qt::QueuedConnection);
    });
    const auto path = AskExportFile(nullptr);
    EXPECT_TRUE(warned);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, QFile::encodeName(dir.filePath("report.txt")).toStdString());
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST(FileDialogs, DownloadAsksBeforeOverwritingAndKeepsTheUnitsNameInItsFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile old(dir.filePath("GREET1.WAV"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();

    test::TModalAnswers answers;
    answers.Add([&dir](QWidget* d) {
        // A name with folders in it proposes only its last part.
        EXPECT_EQ(NameField(d)->text(), "GREET1.WAV");
        qobject_cast<QFileDialog*>(d)->setDirectory(dir.path());
        Choose(d, dir.filePath("GREET1.WAV"));
    });
    QString question;
    answers.Add([&question](QWidget* m) {
        question = qobject_cast<QMessageBox*>(m)->text();
        QTest::mouseClick(qobject_cast<QMessageBox*>(m)->button(QMessageBox::No), Qt::LeftButton);
        QWidget* save = m->parentWidget();
        QMetaObject::invokeMethod(save, [save] { QTest::keyClick(save, Qt::Key_Escape); }, Qt::QueuedConnection);
    });
    EXPECT_FALSE(AskDownloadFile(nullptr, "../../voice/GREET1.WAV").has_value());
    EXPECT_TRUE(question.contains("GREET1.WAV")) << question.toStdString();

    // The upload dialog: cancel gives nothing, a chosen file its path.
    answers.Add([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    answers.Add([&dir](QWidget* d) {
        EXPECT_EQ(qobject_cast<QFileDialog*>(d)->fileMode(), QFileDialog::ExistingFile);
        Choose(d, dir.filePath("GREET1.WAV"));
    });
    EXPECT_FALSE(AskUploadFile(nullptr).has_value());
    const auto up = AskUploadFile(nullptr);
    ASSERT_TRUE(up.has_value());
    EXPECT_EQ(*up, QFile::encodeName(dir.filePath("GREET1.WAV")).toStdString());
    EXPECT_EQ(answers.Unanswered(), 0);
}

}  // namespace
}  // namespace kv
