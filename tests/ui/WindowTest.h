// What the tests of the real window share: the user's settings in a folder
// of the test program, kvsim on COM1, the program with its window shown,
// and answers to the password and message dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "SimProcess.h"
#include "tests/ui/QtSupport.h"
#include "ui/qt/Program.h"
#include "ui/qt/QtSettingsStore.h"

namespace kv::test {

// The user's settings live in a folder of the test program, set before the
// application reads where they are.
inline const std::string g_config = [] {
    std::string dir = (std::filesystem::temp_directory_path() / ("kv-ui-window-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    // Gone with the test program.
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                        ("kv-ui-window-" + std::to_string(getpid())),
                                    ec);
    });
    return dir;
}();

inline QSettings UserSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "kvmanage", "kv20rcfg");
}

struct TWindowTest : ::testing::Test {
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TQtSettingsStore> store;
    std::unique_ptr<TProgram> program;
    TModalAnswers answers;
    // The messages shown, with their icons and details.
    QStringList messages;
    QStringList details;
    std::vector<QMessageBox::Icon> icons;

    void SetUp() override
    {
        QApplication::setQuitOnLastWindowClosed(false);
        QSettings s = UserSettings();
        s.clear();
        s.sync();
    }
    void TearDown() override { program.reset(); }

    void Start(std::vector<std::string> simArgs = {})
    {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        QSettings s = UserSettings();
        s.setValue("Software/kv20rm/Devices/COM1", QString::fromStdString(sim->Path()));
        s.sync();
        StartWindow();
    }
    void StartWindow()
    {
        store = std::make_unique<TQtSettingsStore>();
        program = std::make_unique<TProgram>(*store, "/usr/local/bin/kv20rcfg");
        W().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&W()));
    }
    TMainWindow& W() { return program->Window(); }
    QString PanelText(int i) { return W().Panel(i)->text(); }
    QPushButton* Button(const char* name) { return W().Button(name); }

    // Answers for the dialogs, in the order they will show.
    void TypePassword(const QString& password)
    {
        answers.Add([password](QWidget* d) {
            auto* edit = Child<QLineEdit>(d, "edtPassword");
            Type(edit, password);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    }
    void AcknowledgeMessage()
    {
        answers.Add([this](QWidget* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            messages.push_back(box->text());
            icons.push_back(box->icon());
            details.push_back(box->detailedText());
            EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(box->parentWidget(), &W());
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
    }
    void Connect() { QTest::mouseClick(Button("btnConnect"), Qt::LeftButton); }
};

}  // namespace kv::test
