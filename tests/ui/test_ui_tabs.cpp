// The tab pages through the real window and its real dialogs, offscreen,
// against the simulated unit: what the user's clicks on the pages send.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <memory>

#include "ScriptedForm.h"
#include "SentBytes.h"
#include "SimProcess.h"
#include "tests/ui/QtSupport.h"
#include "ui/qt/Program.h"
#include "ui/Screens.h"

using namespace kv;
using namespace kv::test;

namespace {

using Codes = std::vector<int>;


// Types the password into the password dialog and presses Enter.
TModalAnswers::TAnswer Password(const QString& text)
{
    return [text](QWidget* dialog) {
        QLineEdit* edit = dialog->findChild<QLineEdit*>();
        ASSERT_TRUE(edit);
        Type(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    };
}

// Closes a message box with its OK button, keeping its text.
TModalAnswers::TAnswer Ok(QStringList& texts)
{
    return [&texts](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_TRUE(box);
        texts << box->text();
        box->button(QMessageBox::Ok)->click();
    };
}

TModalAnswers::TAnswer Reject()
{
    return [](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); };
}

struct Tabs : ::testing::Test {
    std::unique_ptr<SimProcess> sim;
    TMemorySettingsStore store;
    std::unique_ptr<TProgram> program;
    TModalAnswers answers;
    size_t mark = 0;
    qsizetype dialogsBefore = 0;

    void TearDown() override { program.reset(); }

    void Start(std::vector<std::string> simArgs = {})
    {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        store.values[DeviceKey(1)] = sim->Path();
        program = std::make_unique<TProgram>(store, "kv20rcfg");
        Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
    }
    TMainWindow& Window() { return program->Window(); }
    TForm1& Form() { return Window().Form(); }
    QTabWidget* PageControl() { return Window().PageControl(); }
    template <typename T = QWidget>
    T* Control(const char* name)
    {
        T* w = Window().findChild<T*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(std::string("no control ") + name);
        return w;
    }
    // Connects with the password while the tab `tab` is selected, and
    // forgets what the connection sent.
    void Connect(const QString& password, int tab)
    {
        PageControl()->setCurrentIndex(tab);
        Mark();
        answers.Add(Password(password));
        QTest::mouseClick(Control<QPushButton>("btnConnect"), Qt::LeftButton);
        ASSERT_NE(Form().Session().mode, kModeDisconnected);
        Mark();
    }
    void Disconnect()
    {
        QTest::mouseClick(Control<QPushButton>("btnDisconnect"), Qt::LeftButton);
        Form().Session().WaitIdle();
    }
    void Mark()
    {
        mark = sim->BytesFromTool().size();
        dialogsBefore = answers.Shown().size();
    }
    // Titles of the modal dialogs shown since the last Mark.
    QStringList Dialogs() const { return answers.Shown().mid(dialogsBefore); }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    void Click(const char* name) { QTest::mouseClick(Control<QPushButton>(name), Qt::LeftButton); }
    // A click on a cell (the grid's column and row, row 0 the header), or a
    // double click.
    QPoint CellCentre(QTableView* table, int col, int row)
    {
        const QModelIndex at = table->model()->index(row - 1, col);
        table->scrollTo(at);
        return table->visualRect(at).center();
    }
    void ClickCell(const char* grid, int col, int row)
    {
        auto* table = Control<QTableView>(grid);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, CellCentre(table, col, row));
    }
    void DoubleClickCell(const char* grid, int col, int row)
    {
        auto* table = Control<QTableView>(grid);
        const QPoint at = CellCentre(table, col, row);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
    }
    QString CellText(const char* grid, int col, int row)
    {
        auto* table = Control<QTableView>(grid);
        return table->model()->index(row - 1, col).data().toString();
    }
};

TEST_F(Tabs, NumbersAreReadOncePerConnectionAndShownInTheirFields)
{
    Start();
    Connect(QStringLiteral("1234"), kTabMail);
    PageControl()->setCurrentIndex(kTabNumbers);
    PageControl()->setCurrentIndex(kTabTime);
    PageControl()->setCurrentIndex(kTabNumbers);
    EXPECT_EQ(CountOf(Sent(), "GETALL\r"), 1u);
    const Codes codes = GetCodes(Sent());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 1);
    EXPECT_EQ(Control<QPlainTextEdit>("memNumbers")->toPlainText(), QStringLiteral("201-210\n220"));
    EXPECT_EQ(Control<QLineEdit>("edtOpNumDay")->text(), QStringLiteral("200"));
    EXPECT_EQ(Control<QLineEdit>("edtAdmPwd")->text(), QStringLiteral("1234"));
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST_F(Tabs, SystemParametersNeedTheSystemMode)
{
    Start();
    Connect(QStringLiteral("1234"), kTabMail);
    PageControl()->setCurrentIndex(kTabSysParams);
    EXPECT_EQ(Sent(), "");
    QStringList texts;
    answers.Add(Ok(texts));
    DoubleClickCell("sgSysParams", 2, 1);
    EXPECT_EQ(texts, QStringList{QString::fromUtf8(TScreens::kSystemModeOnly)});
    EXPECT_EQ(Sent(), "");

    Disconnect();
    Connect(QStringLiteral("7777"), kTabMail);
    PageControl()->setCurrentIndex(kTabSysParams);
    Codes expected{999};
    for (int r = 1; r <= 39; ++r)
        expected.push_back(Form().Catalogue().sgSysParams.Object(2, r)->code);
    EXPECT_EQ(GetCodes(Sent()), expected);
    EXPECT_EQ(CellText("sgSysParams", 2, 1), QStringLiteral("7777"));
    EXPECT_EQ(CellText("sgSysParams", 0, 39), QStringLiteral("99"));
    EXPECT_EQ(Window().Panel(3)->text(), QStringLiteral("Версия прошивки: 1.2.3"));
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST_F(Tabs, TheScheduleOpensTheTimeDialogOnTimeCellsOnly)
{
    Start();
    Connect(QStringLiteral("1234"), kTabTime);
    EXPECT_EQ(CellText("sgTime", 1, 1), QStringLiteral("09:00"));
    DoubleClickCell("sgTime", 0, 1);
    EXPECT_TRUE(Dialogs().isEmpty());
    answers.Add(Reject());
    DoubleClickCell("sgTime", 2, 3);
    EXPECT_EQ(Dialogs(), QStringList{QStringLiteral("Введите время")});
    EXPECT_EQ(Sent(), "");
}

TEST_F(Tabs, TheHolidayBoxWritesTheClickAndShowsTheUnitsAnswer)
{
    // A unit that will not leave its holiday mode off: it reads back 0.
    Start({"--replace", "=1", "=0"});
    Connect(QStringLiteral("1234"), kTabTime);
    auto* box = Control<QCheckBox>("cbHoliday");
    ASSERT_TRUE(box->isEnabled());
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
    EXPECT_NE(Sent().find("SET\r110\r1\r"), std::string::npos) << Sent();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(CountOf(Sent(), "SET\r"), 1u);
}

TEST_F(Tabs, FileDialogsComeBeforeAnyTransferAndCancellingSendsNothing)
{
    Start();
    Connect(QStringLiteral("1234"), kTabGreetings);
    // The holiday greeting holds no file: no save dialog.
    ClickCell("sgGreetings", 0, 3);
    Click("btnGreetDownload");
    EXPECT_TRUE(Dialogs().isEmpty());
    // The day greeting: the save dialog, cancelled; the open dialog of an
    // upload, cancelled; a double click on the file name uploads too.
    ClickCell("sgGreetings", 0, 1);
    QString proposed;
    answers.Add([&proposed](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        ASSERT_TRUE(files);
        proposed = QFileInfo(files->selectedFiles().value(0)).fileName();
        files->reject();
    });
    Click("btnGreetDownload");
    EXPECT_EQ(proposed, QStringLiteral("day.pcm"));
    answers.Add(Reject());
    Click("btnGreetUpload");
    answers.Add(Reject());
    DoubleClickCell("sgGreetings", 1, 2);
    EXPECT_EQ(Dialogs().size(), 3);
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_EQ(Sent(), "");
}

TEST_F(Tabs, MessageReplacementForTheAdministrator)
{
    Start();
    Connect(QStringLiteral("1234"), kTabMessages);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(CellText("sgMessages", 1, 1), QString());
    QStringList texts;
    answers.Add(Ok(texts));
    Click("btnMessageUpload");
    answers.Add(Ok(texts));
    Click("btnMessageDelete");
    EXPECT_EQ(texts, QStringList(2, QString::fromUtf8(TScreens::kSystemModeOnly)));
    // The replacement grid still edits: the number dialog for line 1's day menu.
    answers.Add(Reject());
    DoubleClickCell("sgGreetOverride", 2, 2);
    EXPECT_EQ(answers.Shown().last(), QStringLiteral("Ввод значения"));
    EXPECT_EQ(Sent().find("GET\r"), std::string::npos);
}

TEST_F(Tabs, MailIsReadEachTimeItIsShownMenusOnce)
{
    Start();
    Connect(QStringLiteral("1234"), kTabNumbers);
    for (int i = 0; i < 2; ++i) {
        PageControl()->setCurrentIndex(kTabMail);
        PageControl()->setCurrentIndex(kTabMenu);
    }
    EXPECT_EQ(CountOf(Sent(), "GETALL\r"), 2u);
    EXPECT_EQ(CountOf(Sent(), "GET\r0\r"), 1u);
    EXPECT_EQ(CellText("sgMenu", 1, 1), QStringLiteral("menu0.pcm"));
    EXPECT_EQ(CellText("sgMail", 0, 1), QStringLiteral("999"));
}

TEST_F(Tabs, OneFailedReloginGivesTwoMessagesNotOnePerSetting)
{
    Start({"--stray-line", "--no-echo=2"});
    PageControl()->setCurrentIndex(kTabNumbers);
    QStringList texts;
    answers.Add(Password(QStringLiteral("1234")));
    answers.Add(Ok(texts));
    answers.Add(Ok(texts));
    Click("btnConnect");
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Probably incorrect finishing the previous command"),
                                  QStringLiteral("Device does not respond (no echo)")}));
    EXPECT_EQ(answers.Unanswered(), 0);
    EXPECT_EQ(Form().Session().mode, kModeDisconnected);
    EXPECT_EQ(Window().Panel(0)->text(), QStringLiteral("Готово"));
    EXPECT_FALSE(Control<QPushButton>("btnAddNum")->isEnabled());
}

// Puts `text` into a field every way but typing: Ctrl+V over the whole
// text, the middle button where the system has a selection to paste (the
// offscreen platform has none), a drop, and an insert as an input method
// makes one.
void Smuggle(QLineEdit* edit, const QString& text)
{
    QApplication::clipboard()->setText(text);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    if (QApplication::clipboard()->supportsSelection()) {
        QApplication::clipboard()->setText(text, QClipboard::Selection);
        QTest::mouseClick(edit, Qt::MiddleButton);
    }
    QMimeData mime;
    mime.setText(text);
    const QPoint at = edit->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &drop);
    edit->insert(text);
}

// The digit fields' rule holds for text that is not typed: letters pasted
// or dropped into a number to dial or a menu key's extension never reach
// the unit.
TEST_F(Tabs, LettersPastedOrDroppedIntoADigitFieldNeverReachTheUnit)
{
    Start();
    Connect(QStringLiteral("7777"), kTabNumbers);
    QString before, after;
    auto smuggleAndOk = [&](const char* field, const QString& letters) {
        return [&, field, letters](QWidget* d) {
            QLineEdit* edit = d->findChild<QLineEdit*>(QString::fromLatin1(field));
            ASSERT_TRUE(edit);
            if (QString::fromLatin1(field) == QStringLiteral("edtExt"))
                test::ClickRadio(d->findChild<QWidget*>(QStringLiteral("rbXfer")));
            before = edit->text();
            Smuggle(edit, letters);
            after = edit->text();
            ClickButton(d, "btnOK");
        };
    };

    // "Ввод номера" of the day operator's number, and of a system
    // parameter whose field also takes "*".
    answers.Add(smuggleAndOk("Edit1", QStringLiteral("12ab")));
    Click("btnOpNumDay");
    EXPECT_EQ(before, QStringLiteral("200"));
    EXPECT_EQ(after, before);
    EXPECT_EQ(Sent().find("SET\r"), std::string::npos) << Sent();
    PageControl()->setCurrentIndex(kTabSysParams);
    Mark();
    answers.Add(smuggleAndOk("Edit1", QStringLiteral("*1x")));
    DoubleClickCell("sgSysParams", 2, 12);  // 20 - Комбинация для перевода звонка
    EXPECT_EQ(after, before);
    EXPECT_EQ(Sent().find("SET\r"), std::string::npos) << Sent();

    // A menu key's extension: the key is written, without the letters.
    PageControl()->setCurrentIndex(kTabGreetings);
    Mark();
    answers.Add(smuggleAndOk("edtExt", QStringLiteral("5q")));
    DoubleClickCell("sgGreetings", 7, 1);  // the day greeting's key 5
    EXPECT_EQ(after, before);
    EXPECT_EQ(Sent().find('q'), std::string::npos) << Sent();
    EXPECT_EQ(Dialogs(), QStringList{QStringLiteral("Выберите действие")});
    EXPECT_EQ(answers.Unanswered(), 0);
}

}  // namespace
