// What every dialog shows: its caption, its buttons, a fixed size that holds
// every control whole, and a label named as the buddy of each field.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "tests/ui/SampleDialogs.h"

namespace kv {
namespace {

TEST(DialogLooks, CaptionsButtonsSizesAndBuddies)
{
    test::TSampleDialogs samples;
    for (auto& e : samples.dialogs) {
        SCOPED_TRACE(e.name);
        QDialog& d = *e.dialog;
        d.show();
        EXPECT_EQ(d.windowTitle(), e.caption);

        auto* ok = d.findChild<QPushButton*>("btnOK");
        auto* cancel = d.findChild<QPushButton*>("btnCancel");
        ASSERT_TRUE(ok && cancel);
        EXPECT_EQ(ok->text(), "OK");
        EXPECT_EQ(cancel->text(), "Отмена");
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "fixed border";

        for (QWidget* w : d.findChildren<QWidget*>()) {
            // A spin box's own field is drawn inside its frame: the box is what counts.
            const bool field = qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractSpinBox*>(w->parentWidget());
            if (!w->isVisible() || !(qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) || field ||
                                     qobject_cast<QAbstractSpinBox*>(w)))
                continue;
            const QSize need = w->minimumSizeHint();
            EXPECT_GE(w->width(), need.width()) << w->objectName().toStdString() << " clipped";
            EXPECT_GE(w->height(), need.height()) << w->objectName().toStdString() << " clipped";
            const QRect inDialog(w->mapTo(&d, QPoint(0, 0)), w->size());
            EXPECT_TRUE(d.rect().contains(inDialog)) << w->objectName().toStdString() << " outside";
        }
        for (QLabel* label : d.findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
            }
        }
        d.close();
    }
}

}  // namespace
}  // namespace kv
