// What the window's tests share: a QApplication on the offscreen platform
// for the whole test program, answers to the modal dialogs a test opens,
// and typing into widgets as a keyboard would.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <ostream>
#include <functional>

#include "doctor/SerialDevices.h"

namespace kv::test {

// Answers the modal dialogs shown while it lives, in order of showing: each
// gets the next answer, run from the event loop once the dialog's own loop
// runs (an answer acts on the dialog as a user would and usually ends with
// a click on one of its buttons). A dialog shown when no answer is left is
// rejected and counted in Unanswered().
class TModalAnswers : public QObject {
public:
    using TAnswer = std::function<void(QWidget* dialog)>;

    TModalAnswers();
    ~TModalAnswers() override;

    void Add(TAnswer answer);
    // Window titles of the modal dialogs shown so far.
    const QStringList& Shown() const { return shown_; }
    int Unanswered() const { return unanswered_; }
    // Answers not used yet.
    size_t Pending() const { return answers_.size(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::deque<TAnswer> answers_;
    QStringList shown_;
    int unanswered_ = 0;
};

// Types text into w key by key (press and release, each with its text).
void Type(QWidget* w, const QString& text);
// Clicks the named child button of dialog (btnOK, btnCancel, ...).
void ClickButton(QWidget* dialog, const char* name);
// Clicks a radio button on its indicator.
void ClickRadio(QWidget* radioButton);
// Clicks the up (+1) or down (-1) arrow of a spin box.
void ClickArrow(QWidget* spinBox, int direction);
// With KV_SCREENS_DIR set, saves a picture of w as DIR/name.png.
void SaveScreen(QWidget* w, const QString& name);
// The child of dialog with that objectName, as T; fails the test when
// there is none.
template <typename T>
T* Child(QWidget* dialog, const char* name)
{
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        throw std::runtime_error(std::string("no control ") + name);
    return w;
}

// Runs the event loop until `done` holds, looking again whenever `sender`
// emits `signal`; false after the time-out.
template <typename Sender, typename Signal, typename Done>
bool WaitFor(Sender* sender, Signal signal, Done done, int timeoutMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// Device events as a test makes them, announced on a pipe as the system's
// socket announces its own.
class TFedDeviceEvents : public TDeviceEventSource {
public:
    TFedDeviceEvents();
    ~TFedDeviceEvents() override;
    int Fd() const override { return fds_[0]; }
    std::vector<TDeviceEvent> Take() override;
    void Send(TDeviceEvent event);

private:
    int fds_[2];
    std::deque<TDeviceEvent> waiting_;
};

}  // namespace kv::test

// Test failures show a QString as its text.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
