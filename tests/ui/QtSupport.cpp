#include "tests/ui/QtSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <unistd.h>

#include "ui/qt/QtTranslations.h"

namespace kv::test {

namespace {

// One QApplication for the test program, on the offscreen platform unless
// the environment names another.
class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kvmanage-ui-test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        // Pictures show the window as its users see it, Qt's own texts too.
        if (!qEnvironmentVariableIsEmpty("KV_SCREENS_DIR"))
            InstallQtTranslations(*app_);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace

TModalAnswers::TModalAnswers()
{
    qApp->installEventFilter(this);
}

TModalAnswers::~TModalAnswers()
{
    qApp->removeEventFilter(this);
}

void TModalAnswers::Add(TAnswer answer)
{
    answers_.push_back(std::move(answer));
}

bool TModalAnswers::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    if (!w->isWindow() || !w->isModal())
        return false;
    shown_.push_back(w->windowTitle());
    TAnswer answer;
    if (!answers_.empty()) {
        answer = std::move(answers_.front());
        answers_.pop_front();
    } else {
        ++unanswered_;
        answer = [](QWidget* d) {
            if (auto* dialog = qobject_cast<QDialog*>(d))
                dialog->reject();
        };
    }
    QPointer<QWidget> guard(w);
    QMetaObject::invokeMethod(
        w,
        [guard, answer = std::move(answer)] {
            if (guard)
                answer(guard);
        },
        Qt::QueuedConnection);
    return false;
}

void Type(QWidget* w, const QString& text)
{
    for (QChar ch : text) {
        const ushort u = ch.unicode();
        if (u >= 0x20 && u < 0x7F) {
            QTest::keyClick(w, static_cast<char>(u));
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
}

void ClickButton(QWidget* dialog, const char* name)
{
    QTest::mouseClick(Child<QAbstractButton>(dialog, name), Qt::LeftButton);
}

void SaveScreen(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("KV_SCREENS_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

void ClickRadio(QWidget* radioButton)
{
    auto* b = qobject_cast<QRadioButton*>(radioButton);
    if (!b)
        throw std::runtime_error("not a radio button");
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const QRect r = b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, b);
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, r.center());
}

void ClickArrow(QWidget* spinBox, int direction)
{
    auto* box = qobject_cast<QAbstractSpinBox*>(spinBox);
    if (!box)
        throw std::runtime_error("not a spin box");
    QStyleOptionSpinBox opt;
    opt.initFrom(box);
    opt.rect = box->rect();
    opt.subControls = QStyle::SC_All;
    opt.buttonSymbols = box->buttonSymbols();
    opt.frame = box->hasFrame();
    opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QRect r = box->style()->subControlRect(QStyle::CC_SpinBox, &opt,
                                                 direction > 0 ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, r.center());
}

TFedDeviceEvents::TFedDeviceEvents()
{
    if (pipe(fds_) != 0)
        fds_[0] = fds_[1] = -1;
}

TFedDeviceEvents::~TFedDeviceEvents()
{
    close(fds_[0]);
    close(fds_[1]);
}

std::vector<TDeviceEvent> TFedDeviceEvents::Take()
{
    char buf[64];
    [[maybe_unused]] ssize_t n = read(fds_[0], buf, sizeof buf);
    std::vector<TDeviceEvent> out(waiting_.begin(), waiting_.end());
    waiting_.clear();
    return out;
}

void TFedDeviceEvents::Send(TDeviceEvent event)
{
    waiting_.push_back(std::move(event));
    [[maybe_unused]] ssize_t n = write(fds_[1], "e", 1);
}

}  // namespace kv::test
