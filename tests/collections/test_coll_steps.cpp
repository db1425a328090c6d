// Every step of every object runs where its needsync says: the worker runs
// the exchanges, the UI thread the dialogs and the controls. The walk runs
// each action of each object of the catalogue (and the clock) as a job of
// one step through the real worker, against kvsim, and watches both sides:
// a step on the worker that opens a dialog fails the test (the dialog sets
// refuse it), a control changed off the UI thread is recorded, and a step
// on the UI thread must not send anything to the unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "tests/session/Harness.h"
#include "tests/support/UnitSession.h"
#include "collections/Factory.h"
#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "settings/Catalogue.h"
#include "settings/Clock.h"

namespace {

using namespace kvtest;

// One step of another job, then the end.
class TOneStep : public kv::TJoint {
public:
    explicit TOneStep(kv::TJoint& target) : target_(target) {}
    bool needsync() override { return target_.needsync(); }
    bool process() override
    {
        target_.process();
        return true;
    }

private:
    kv::TJoint& target_;
};

// Records every change of a control that happens off the UI thread.
class TOffUiWatch {
public:
    template <class TModel>
    void Watch(TModel& model, const std::string& name)
    {
        model.changed.Subscribe([this, name](auto&&...) {
            if (!kv::UiBridge().IsUiThread())
                offUi.push_back(name);
        });
    }
    std::vector<std::string> offUi;
};

constexpr int kLastAction = 299;

TEST(Steps, EveryActionOfEveryObjectRunsOnTheThreadItsNeedsyncNames)
{
    TUnitSession u;
    // Whatever reaches the application's handler fails the walk.
    std::vector<std::string> exceptions;
    kv::SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            exceptions.push_back(x.what());
        }
    });
    kv::TCatalogue cat(kv::CollectionFactory());
    kv::TFormClock clockForm(u.session);

    TOffUiWatch watch;
    watch.Watch(cat.versionPanel, "versionPanel");
    watch.Watch(cat.memNumbers, "memNumbers");
    for (auto* f : {&cat.edtOpCode, &cat.edtOpNumDay, &cat.edtOpNumNight, &cat.edtFaxNum, &cat.edtAdmPwd,
                    &cat.edtFreeSpace})
        watch.Watch(*f, f->Name());
    for (auto* g : {&cat.sgTime, &cat.sgSysParams, &cat.sgGreetOverride, &cat.sgMessages, &cat.sgGreetings,
                    &cat.sgMenu, &cat.sgMail})
        watch.Watch(*g, g->Name());
    watch.Watch(cat.cbHoliday, "cbHoliday");
    watch.Watch(clockForm.DateTimePicker1, "DateTimePicker1");
    watch.Watch(clockForm.MonthCalendar1, "MonthCalendar1");

    std::vector<kv::TJoint1*> objects = {&cat.version, cat.extensionList.get(), &cat.opCode, &cat.opNumDay,
                                         &cat.opNumNight, &cat.faxNum, &cat.admPwd, cat.mailboxes.get(),
                                         &cat.holiday, &clockForm.clock};
    for (auto& p : cat.sysParams)
        objects.push_back(p.get());
    for (auto* row : {&cat.workStart, &cat.workEnd})
        for (auto& t : *row)
            objects.push_back(&t);
    for (auto& c : cat.greetReplace)
        objects.push_back(&c);
    for (auto* row : {&cat.menuDay, &cat.menuNight, &cat.menuHoliday, &cat.menuTransfer})
        for (auto& n : *row)
            objects.push_back(&n);
    // The voice files: the greetings, the voice menus, the service messages.
    std::vector<kv::TFile*> files;
    for (auto& g : cat.greetings)
        files.push_back(g.get());
    for (auto& m : cat.voiceMenus)
        files.push_back(m.get());
    for (auto& m : cat.messages)
        files.push_back(m.get());
    objects.insert(objects.end(), files.begin(), files.end());
    ASSERT_EQ(objects.size(), 130u);

    int uiSteps = 0;
    int workerSteps = 0;
    for (kv::TJoint1* object : objects) {
        ASSERT_NE(object, nullptr);
        SCOPED_TRACE("menu " + std::to_string(object->menu) + ", code " + std::to_string(object->code));
        // The read puts the unit into the object's menu and gives the
        // object what a real session would have read.
        u.Read(*object);
        // The unit's side of a transfer (the exchanges that make it start
        // one, and the result it sends at the end of one) runs with the
        // transfer dialog (test_coll_transfer), not here.
        const bool voiceFile = std::find(files.begin(), files.end(), object) != files.end();
        auto walked = [&](int action) { return !(voiceFile && (action == 30 || action == 40 || action == 70)); };
        auto runStep = [&](int action) {
            object->action = action;
            TOneStep step(*object);
            RunJob(u.server, &step);
        };

        const size_t sentBefore = u.sim.BytesFromTool().size();
        for (int action = 0; action <= kLastAction; ++action) {
            object->action = action;
            if (walked(action) && object->needsync()) {
                runStep(action);
                ++uiSteps;
            }
        }
        EXPECT_EQ(u.sim.BytesFromTool().size(), sentBefore) << "a step on the UI thread talked to the unit";

        for (int action = 0; action <= kLastAction; ++action) {
            object->action = action;
            if (walked(action) && !object->needsync()) {
                runStep(action);
                ++workerSteps;
            }
        }
        object->action = 0;
    }
    EXPECT_EQ(watch.offUi, std::vector<std::string>{}) << "controls changed by steps on the worker";
    EXPECT_EQ(exceptions, std::vector<std::string>{}) << "steps that failed (a dialog off the UI thread among them)";
    // Both kinds of step were walked.
    EXPECT_GT(uiSteps, 300);
    EXPECT_GT(workerSteps, 30000);
}

}  // namespace
