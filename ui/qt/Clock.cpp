#include "ui/qt/Clock.h"

#include <QCalendarWidget>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"
#include "ui/qt/ViewAdapters.h"

namespace kv {

void TClockDialog::Execute(TFormClock& form, QWidget* parent)
{
    QPointer<TClockDialog> dialog = new TClockDialog(form, parent);
    RunModal(dialog.data());
    // Every handler of the dialog has returned by now: the views can let go
    // of the form, which the caller may destroy next.
    if (dialog)
        dialog->releaseViews();
}

TClockDialog::TClockDialog(TFormClock& form, QWidget* parent) : TJobDialog(parent), form_(&form)
{
    setObjectName(QStringLiteral("FormClock"));
    setWindowTitle(Q(TFormClock::Caption));

    calendar_ = new QCalendarWidget(this);
    calendar_->setObjectName(QStringLiteral("MonthCalendar1"));
    // The window speaks Russian whatever the desktop's locale; so do the
    // calendar's month and day names.
    calendar_->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar_->setGridVisible(false);
    picker_ = new QTimeEdit(this);
    picker_->setObjectName(QStringLiteral("DateTimePicker1"));
    picker_->setWrapping(false);

    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(Q(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* btnApply = button("btnApply", TFormClock::btnApplyCaption);
    QPushButton* btnComp = button("btnComp", TFormClock::btnCompCaption);
    QPushButton* btnCancel = button("btnCancel", TFormClock::btnCancelCaption);
    connect(btnApply, &QPushButton::clicked, this, [this] { act(&TFormClock::btnApplyClick); });
    connect(btnComp, &QPushButton::clicked, this, [this] { act(&TFormClock::btnCompClick); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });

    auto* side = new QVBoxLayout;
    side->addWidget(picker_);
    side->addWidget(btnApply);
    side->addWidget(btnComp);
    side->addStretch(1);
    side->addWidget(btnCancel);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(calendar_);
    layout->addLayout(side);
    FixSize(*this);

    pickerView_ = new TTimePickerView(form.DateTimePicker1, picker_);
    calendarView_ = new TCalendarView(form.MonthCalendar1, calendar_);
    timer_ = new TCoreTimerDriver(form.Timer1, this);
    // The unit went away (the session has shown its one message): the
    // dialog closes, and the window is usable again.
    form.onSessionEnded = [this] { QTimer::singleShot(0, this, [this] { close(); }); };
    // The line went silent under the dialog (its one message shown): the
    // buttons that would write say that nothing can be written any more.
    form.onWritesEnded = [btnApply, btnComp] {
        btnApply->setEnabled(false);
        btnComp->setEnabled(false);
    };
}

TClockDialog::~TClockDialog()
{
    releaseViews();
}

void TClockDialog::releaseViews()
{
    if (form_) {
        form_->onSessionEnded = nullptr;
        form_->onWritesEnded = nullptr;
    }
    delete pickerView_;
    delete calendarView_;
    delete timer_;
    pickerView_ = nullptr;
    calendarView_ = nullptr;
    timer_ = nullptr;
}

void TClockDialog::Started()
{
    // The live display starts once the dialog is on the screen.
    if (form_)
        form_->Show();
}

void TClockDialog::act(void (TFormClock::*action)())
{
    if (!form_ || acting_ > 0)
        return;
    ++acting_;
    (form_->*action)();
    --acting_;
    if (closeWanted_)
        close();
}

void TClockDialog::reject()
{
    close();
}

void TClockDialog::closeEvent(QCloseEvent* event)
{
    close();
    event->ignore();  // close() hides the dialog itself
}

void TClockDialog::close()
{
    if (!form_)
        return;
    if (acting_ > 0) {
        closeWanted_ = true;
        return;
    }
    TFormClock* form = form_;
    form_ = nullptr;
    form->onSessionEnded = nullptr;
    form->onWritesEnded = nullptr;
    form->Close();  // stops the live display, waits for a job still running
    QDialog::reject();
    deleteLater();
}

}  // namespace kv
