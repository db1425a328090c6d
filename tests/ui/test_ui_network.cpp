// The window reaching the unit through a serial device server: the address
// typed into the port dialog (a malformed one refused there), shown in the
// port panel while disconnected, and a connection through Debian's ser2net
// in front of kvsim that loads a tab.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <memory>

#include "SimProcess.h"
#include "tests/support/Ser2Net.h"
#include "tests/ui/QtSupport.h"
#include "tests/ui/WindowTest.h"
#include "ui/Screens.h"

using namespace kv;
using test::Child;
using test::UserSettings;
using Window = test::TWindowTest;

TEST_F(Window, ConnectsThroughAnAddressTypedIntoThePortDialogAndLoadsATab)
{
    sim = std::make_unique<SimProcess>();
    std::unique_ptr<kvtest::TSer2Net> server;
    try {
        server = std::make_unique<kvtest::TSer2Net>(sim->Path(), kvtest::TSer2Net::Kind::Rfc2217);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "ser2net cannot start here: " << e.what();
    }
    StartWindow();
    const QString address = QString::fromStdString(server->Address());

    // A malformed address: OK shows why and leaves the dialog open; the
    // address corrected, OK stores it.
    answers.Add([&](QWidget* d) {
        auto* field = Child<QLineEdit>(d, "edtAddress");
        auto* device = Child<QComboBox>(d, "cbDevice");
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_EQ(device->currentText(), QStringLiteral("/dev/ttyS0"));
        test::Type(field, QStringLiteral("rfc2217://127.0.0.1"));
        EXPECT_TRUE(device->currentText().isEmpty()) << "one or the other";
        test::ClickButton(d, "btnOK");
        EXPECT_TRUE(d->isVisible()) << "refused: the dialog stays";
        field->selectAll();
        test::Type(field, address);
        test::ClickButton(d, "btnOK");
    });
    AcknowledgeMessage();
    QTest::mouseClick(Button("btnPort"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Неверный адрес сервера \"rfc2217://127.0.0.1\": не указан порт после двоеточия.\n"
                                    "Пример: rfc2217://192.168.1.20:4001 или tcp://192.168.1.20:4001."});
    EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Warning});
    EXPECT_EQ(UserSettings().value("Software/kv20rm/Devices/COM1").toString(), address);
    EXPECT_EQ(PanelText(1), "COM1 " + address);
    EXPECT_EQ(W().Panel(1)->toolTip(), address + ": сервер последовательных портов");

    // The dialog again shows the address in its own field.
    answers.Add([&](QWidget* d) {
        EXPECT_EQ(Child<QLineEdit>(d, "edtAddress")->text(), address);
        EXPECT_TRUE(Child<QComboBox>(d, "cbDevice")->currentText().isEmpty());
        test::ClickButton(d, "btnCancel");
    });
    QTest::mouseClick(Button("btnPort"), Qt::LeftButton);

    TypePassword("1234");
    W().PageControl()->setCurrentIndex(kTabNumbers);
    Connect();
    ASSERT_EQ(PanelText(2), QStringLiteral("Режим: Администратор")) << messages.join("; ").toStdString();
    EXPECT_EQ(PanelText(1), QStringLiteral("COM1")) << "the address only while disconnected";
    EXPECT_TRUE(W().Form().Comm().VaComm1.IsNetwork());
    auto* opNumDay = W().findChild<QLineEdit*>(QStringLiteral("edtOpNumDay"));
    ASSERT_NE(opNumDay, nullptr);
    EXPECT_EQ(opNumDay->text(), QStringLiteral("200"));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(answers.Unanswered(), 0);

    QTest::mouseClick(Button("btnDisconnect"), Qt::LeftButton);
    W().Form().Session().WaitIdle();
    EXPECT_EQ(PanelText(2), QStringLiteral("Отключено"));
    EXPECT_EQ(PanelText(1), "COM1 " + address);
}
