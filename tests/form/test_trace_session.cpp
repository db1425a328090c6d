// The exchange trace and the connection doctor in a whole session with the
// simulated unit: the window's own trace of a login, reads of both password
// parameters, a file transfer and the logout; and the failed connections'
// messages with the doctor's details.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "FormFixture.h"
#include "ScriptedForm.h"
#include "SimProcess.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/TextAssert.h"
#include "tests/session/Harness.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;

namespace {

struct TraceSession : TFormFixture {
    // The unit, or a device that is not one.
    void Start(std::vector<std::string> simArgs = {}, std::string device = {})
    {
        if (device.empty()) {
            TFormFixture::Start(std::move(simArgs));
            return;
        }
        store.values[DeviceKey(1)] = device;
        StartWindow();
    }
    // The only message shown, which must have details.
    const TScriptedDialogs::TShown Failure()
    {
        const auto shown = dialogs.Shown();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? TScriptedDialogs::TShown{} : shown.front();
    }
};

}  // namespace

TEST_F(TraceSession, AWholeSessionWithThePasswordsMasked)
{
    Start();
    // System mode reads every system parameter, the system password (00)
    // among them; the Numbers tab reads the administrator's (104).
    view.currentTab = kTabSysParams;
    dialogs.AnswerPassword("7777");
    form->btnConnectClick();
    ASSERT_EQ(form->Session().mode, kModeSystem);
    view.currentTab = kTabNumbers;
    form->TabShown(kTabNumbers);
    EXPECT_EQ(form->Catalogue().edtAdmPwd.Text(), "1234");

    // A voice file up to the unit.
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "kv-trace-session";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "hello.pcm", std::ios::binary) << std::string(2000, '\x06');
    view.currentTab = kTabMessages;
    form->TabShown(kTabMessages);
    form->Catalogue().sgMessages.SetCurrent(1, 2);
    view.openNames.push_back((dir / "hello.pcm").string());
    form->Screens().Click("btnMessageUpload");
    form->btnDisconnectClick();
    form->Session().WaitIdle();  // the logout runs on after the click
    std::filesystem::remove_all(dir);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front();

    const std::string text = form->Trace().Text();
    EXPECT_TRUE(Hides(text, "7777"));
    EXPECT_TRUE(Hides(text, "1234"));
    const auto lines = form->Trace().Lines();
    ASSERT_GT(lines.size(), 20u);
    EXPECT_TRUE(Shows(lines[0], "· Порт " + sim->Path() + " открыт"));
    EXPECT_TRUE(Shows(lines[1], "→ \\x18\\x18\\x18\\x18\\x18\\x18\\x18\\x18\\x18\\r"));
    EXPECT_TRUE(Shows(text, "← Password:"));
    EXPECT_TRUE(Shows(text, "→ ****\n"));       // the password sent
    EXPECT_TRUE(Shows(text, "← ****\\r"));      // and its echo
    EXPECT_TRUE(Shows(text, "← SYSTEM_MODE\\r"));
    EXPECT_TRUE(Shows(text, "→ 104\\r\n"));
    EXPECT_TRUE(Shows(text, "← =****\\r"));
    EXPECT_TRUE(Shows(text, "← =10\\r"));       // the operator's code, not a secret
    // The transfer: one line, none of its payload (the file is all ACK bytes).
    EXPECT_TRUE(Shows(text, "· YModem: отправлен файл hello.pcm, 2000 байт, блоков 2, ошибок 0: готово\n"));
    EXPECT_TRUE(Hides(text, "\\x06\\x06"));
    EXPECT_TRUE(Shows(text, "TRANSFER_RESULT:"));
    EXPECT_TRUE(Shows(lines.back(), "· Порт закрыт"));
    EXPECT_TRUE(Shows(text, "→ \\x18\\x18\\x18\\x18\\x18\\r\\r\\r\\r\\r\\r\\r\\r\\r\n"));  // the logout
}

TEST_F(TraceSession, APortThatDoesNotOpenIsExplainedInTheMessagesDetails)
{
    Start({}, "/dev/kv-no-such-device");
    form->btnConnectClick();
    const auto shown = Failure();
    EXPECT_EQ(shown.text, "COM1: Не удалось открыть порт.");
    EXPECT_TRUE(Shows(shown.details, "Устройства /dev/kv-no-such-device нет."));
    EXPECT_EQ(form->Session().mode, kModeDisconnected);
}

TEST_F(TraceSession, AUnitThatDoesNotAnswerIsExplainedInTheMessagesDetails)
{
    Start({"--no-echo"});
    form->btnConnectClick();
    auto shown = Failure();
    EXPECT_EQ(shown.text, "COM1: Устройство не обнаружено.");
    EXPECT_TRUE(Shows(shown.details, "Порт " + sim->Path() + " открылся, но отправленное не вернулось эхом"));
    // kvsim still shows its prompts, unechoed.
    EXPECT_TRUE(Shows(shown.details, "но не эхо отправленного: «Password:"));
    EXPECT_TRUE(Shows(shown.details, "Счётчиков ошибок линии этот драйвер не ведёт."));

    form.reset();
    dialogs.Clear();
    Start({"--no-password-prompt"});
    form->btnConnectClick();
    shown = Failure();
    EXPECT_EQ(shown.text, "COM1: Устройство не обнаружено.");
    EXPECT_TRUE(Shows(shown.details, "приглашения «Password:» нет"));
}
