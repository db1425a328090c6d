// The transfer dialog against the simulated unit at the line's pace: whole
// files up and down through the real dialog, its fields moving, and a
// close answered No that lets the transfer run to its end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include "collections/MenuDlg.h"
#include "collections/YModemU.h"
#include "settings/View.h"
#include "TransferRig.h"
#include "tests/ui/QtUnitSession.h"
#include "ui/qt/YModemU.h"

namespace kv {
namespace {

// What a test saw of the dialog while it was open.
struct TSeen {
    QPointer<QWidget> dialog;
    QString title;
    QStringList bytes;    // Edit2, each change
    QStringList packets;  // Edit1, each change
    QList<int> progress;  // ProgressBar1, each change
    QString total;        // Edit3 at the end
};

// The transfer dialog on a session with kvsim at 19200 baud.
class TransferDialog : public ::testing::Test {
protected:
    TransferDialog()
    {
        menu.code = 1;
        menu.menu = 9;
        menu.grid = &grid;
        menu.row = 2;
    }

    void Job(int action) { unit.Run(menu, action); }

    // Shows the transfer dialog as the window does; `during` runs once
    // the first packet has been shown.
    TSeen Transfer(TFormYMU& form, std::function<void(QWidget*)> during = {})
    {
        TSeen seen;
        answers.Add([&seen, during](QWidget* d) {
            seen.dialog = d;
            auto* bytes = d->findChild<QLineEdit*>("Edit2");
            auto* packet = d->findChild<QLineEdit*>("Edit1");
            auto* bar = d->findChild<QProgressBar*>("ProgressBar1");
            if (!bytes || !packet || !bar)
                throw std::runtime_error("transfer dialog without its fields");
            QObject::connect(bytes, &QLineEdit::textChanged, d, [&seen, d, during](const QString& t) {
                if (t.isEmpty())
                    return;
                seen.bytes << t;
                seen.title = d->findChild<QLabel*>("Label1")->text();
                seen.total = d->findChild<QLineEdit*>("Edit3")->text();
                if (seen.bytes.size() == 1 && during)
                    during(d);
                if (seen.bytes.size() == 3)
                    test::SaveScreen(d, "dialog-YModemU");
            });
            QObject::connect(packet, &QLineEdit::textChanged, d, [&seen](const QString& t) { seen.packets << t; });
            QObject::connect(bar, &QProgressBar::valueChanged, d, [&seen](int v) { seen.progress << v; });
        });
        TYModemDialog::Execute(form, nullptr);
        session.WaitIdle();  // the unit's transfer result
        return seen;
    }

    // The values seen grew step by step to `size`.
    static void ExpectMoving(const TSeen& seen, int size)
    {
        ASSERT_GE(seen.bytes.size(), 3) << "progress shown only " << seen.bytes.size() << " times";
        int last = 0;
        for (const QString& b : seen.bytes) {
            EXPECT_GT(b.toInt(), last);
            last = b.toInt();
        }
        EXPECT_EQ(last, size);
        EXPECT_EQ(seen.total, QString::number(size));
        ASSERT_FALSE(seen.progress.isEmpty());
        EXPECT_EQ(seen.progress.back(), size);
        EXPECT_GE(seen.packets.size(), 3);
    }

    test::TQtUnitSession unit{{"--baud", "19200"}};
    test::TModalAnswers& answers = unit.answers;
    TScriptedDialogs& messages = unit.messages;
    SimProcess& sim = unit.sim;
    TKvMenu& session = unit.session;
    TFormComm& comm = unit.comm;
    TGridModel grid{"sgMenu", 12, 21};
    TMenuDlg menu;
    QTemporaryDir files;
};

TEST_F(TransferDialog, UploadAndDownloadRoundTripWithTheFieldsMoving)
{
    const std::string data = kvtest::RandomBytes(6000, 7);
    const std::string source = QFile::encodeName(files.filePath("menu1.pcm")).toStdString();
    kvtest::WriteFile(source, data);
    Job(3);  // logs in and reads the menu

    menu.localPath = source;
    menu.action = 30;
    TFormYMU up(session, comm, menu);
    const TSeen sent = Transfer(up);
    EXPECT_EQ(up.ExitCode(), 0);
    EXPECT_EQ(sent.title, "Отправка файла menu1.pcm");
    ExpectMoving(sent, 6000);
    EXPECT_EQ(grid.Cell(1, 2), "menu1.pcm") << "the menu is read back after the transfer";
    // The dialog released itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sent.dialog.isNull());

    const std::string target = QFile::encodeName(files.filePath("back.pcm")).toStdString();
    menu.action = 40;
    TFormYMU down(session, comm, menu, target, QFile::encodeName(files.path()).toStdString());
    const TSeen received = Transfer(down);
    EXPECT_EQ(down.ExitCode(), 0);
    EXPECT_EQ(received.title, "Прием файла menu1.pcm");
    ExpectMoving(received, 6000);
    EXPECT_TRUE(kvtest::ReadFile(target) == data) << "the file came back changed";
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(answers.Unanswered(), 0);
}

TEST_F(TransferDialog, CloseAnsweredNoLetsTheTransferFinish)
{
    const std::string source = QFile::encodeName(files.filePath("long.pcm")).toStdString();
    kvtest::WriteFile(source, kvtest::RandomBytes(5000, 8));
    Job(3);

    QStringList questionsAsked;
    auto answerNo = [&questionsAsked](QWidget* m) {
        auto* box = qobject_cast<QMessageBox*>(m);
        ASSERT_NE(box, nullptr);
        questionsAsked << box->text();
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    };
    menu.localPath = source;
    menu.action = 30;
    auto owned = std::make_unique<TFormYMU>(session, comm, menu);
    TFormYMU& up = *owned;
    const TSeen seen = Transfer(up, [&](QWidget* d) {
        // The close box, then "Отменить"; both times No.
        answers.Add(answerNo);
        answers.Add(answerNo);
        QMetaObject::invokeMethod(
            d,
            [d] {
                d->close();
                QTest::mouseClick(d->findChild<QPushButton*>("Button1"), Qt::LeftButton);
            },
            Qt::QueuedConnection);
    });
    EXPECT_EQ(questionsAsked, (QStringList{"Хотите прервать передачу ?", "Хотите прервать передачу ?"}));
    EXPECT_EQ(up.ExitCode(), 0);
    ExpectMoving(seen, 5000);
    EXPECT_EQ(grid.Cell(1, 2), "long.pcm");
    EXPECT_EQ(answers.Unanswered(), 0);

    // The window may release the form at once; the dialog goes later and
    // no longer touches it.
    owned.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(seen.dialog.isNull());
}

// The unit stops answering in the middle of an upload: the engine waits out
// its own time-outs, and meanwhile the dialog says that the unit does not
// answer and for how long; once blocks move again the text goes.
TEST_F(TransferDialog, ASilentUnitIsShownWithHowLongItHasNotAnswered)
{
    const std::string source = QFile::encodeName(files.filePath("stall.pcm")).toStdString();
    kvtest::WriteFile(source, kvtest::RandomBytes(12000, 9));
    Job(3);

    menu.localPath = source;
    menu.action = 30;
    TFormYMU up(session, comm, menu);
    QStringList silences;
    const TSeen seen = Transfer(up, [&](QWidget* d) {
        auto* label = d->findChild<QLabel*>("lblSilence");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "");
        ::kill(sim.Pid(), SIGSTOP);
        auto* watch = new QTimer(d);
        QObject::connect(watch, &QTimer::timeout, d, [&, label, watch] {
            if (label->text().isEmpty() || silences.contains(label->text()))
                return;
            silences << label->text();
            // Two readings of the silence, a second apart: the unit answers again.
            if (silences.size() == 2) {
                watch->stop();
                ::kill(sim.Pid(), SIGCONT);
            }
        });
        watch->start(100);
    });
    ::kill(sim.Pid(), SIGCONT);
    ASSERT_EQ(silences.size(), 2) << silences.join(" | ").toStdString();
    const QRegularExpression text(QStringLiteral("^Устройство не отвечает ([0-9]+) с$"));
    const auto first = text.match(silences[0]);
    const auto second = text.match(silences[1]);
    ASSERT_TRUE(first.hasMatch()) << silences[0].toStdString();
    ASSERT_TRUE(second.hasMatch()) << silences[1].toStdString();
    EXPECT_GE(first.captured(1).toInt(), TFormYMU::kSilentAfterS);
    EXPECT_GT(second.captured(1).toInt(), first.captured(1).toInt());
    EXPECT_EQ(up.Silence(), "") << "the text goes once the transfer moves again or ends";
    EXPECT_TRUE(up.Closed());
    EXPECT_FALSE(up.Timer1.Enabled());
}

TEST_F(TransferDialog, WithoutATransferItStaysOpenUntilCancelled)
{
    menu.action = 99;  // neither upload nor download
    TFormYMU form(session, comm, menu);
    bool openAfterShow = false;
    answers.Add([&](QWidget* d) {
        // Runs before the form's Show, which the dialog queues once shown.
        QMetaObject::invokeMethod(
            d,
            [&, d] {
                openAfterShow = d->isVisible();
                EXPECT_EQ(d->windowTitle(), "Передача/прием файла");
                auto* cancel = d->findChild<QPushButton*>("Button1");
                EXPECT_EQ(cancel->text(), "Отменить");
                EXPECT_TRUE(cancel->isDefault());
                EXPECT_EQ(d->minimumSize(), d->maximumSize());
                const std::pair<const char*, const char*> buddies[] = {
                    {"Label3", "Edit2"}, {"Label4", "Edit3"}, {"Label2", "Edit1"}};
                for (const auto& [label, field] : buddies) {
                    auto* l = d->findChild<QLabel*>(label);
                    ASSERT_NE(l, nullptr);
                    EXPECT_EQ(l->buddy(), d->findChild<QLineEdit*>(field)) << label;
                }
                EXPECT_EQ(d->findChild<QLabel*>("Label3")->text(), "Прогресс");
                EXPECT_EQ(d->findChild<QLabel*>("Label4")->text(), "Всего");
                EXPECT_EQ(d->findChild<QLabel*>("Label2")->text(), "Пакет");
                QTest::mouseClick(d->findChild<QPushButton*>("Button1"), Qt::LeftButton);
            },
            Qt::QueuedConnection);
    });
    TYModemDialog::Execute(form, nullptr);
    EXPECT_TRUE(openAfterShow);
    EXPECT_EQ(messages.Messages(), (std::vector<std::string>{"Mode error"}));
    EXPECT_TRUE(form.Closed());
    EXPECT_EQ(sim.BytesFromTool(), "") << "nothing is sent";
}

}  // namespace
}  // namespace kv
