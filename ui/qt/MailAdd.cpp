#include "ui/qt/MailAdd.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"

namespace kv {

TMailAddDialog::TMailAddDialog(TFormMailAdd& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setObjectName(QStringLiteral("FormMailAdd"));
    setWindowTitle(Q(form_.Caption()));

    auto* lblOwner = new QLabel(QStringLiteral("Владелец:"), this);
    lblOwner->setObjectName(QStringLiteral("Label1"));
    edtOwner_ = new QLineEdit(Q(form_.Owner()), this);
    edtOwner_->setObjectName(QStringLiteral("edtOwner"));
    edtOwner_->setEnabled(form_.OwnerEnabled());
    edtOwner_->setMinimumWidth(edtOwner_->fontMetrics().horizontalAdvance(QLatin1Char('W')) * 14);
    lblOwner->setBuddy(edtOwner_);
    connect(edtOwner_, &QLineEdit::textEdited, this, [this](const QString& t) { form_.SetOwner(S(t)); });

    auto* lblSize = new QLabel(QStringLiteral("Объем, мин:"), this);
    lblSize->setObjectName(QStringLiteral("Label2"));
    udSize_ = new TUpDownEdit(this);
    udSize_->setObjectName(QStringLiteral("udSize"));
    udSize_->Edit()->setObjectName(QStringLiteral("edtSize"));
    udSize_->setMinimumWidth(udSize_->fontMetrics().horizontalAdvance(QStringLiteral("0000")) * 3);
    // The arrows hold the focus for their field (edtSize inside), so a
    // screen reader names the pair by the label.
    lblSize->setBuddy(udSize_);
    udSize_->BindNumber([this](int32_t n) { form_.SetSizeMinutes(n); }, [this] { form_.SizeUp(); },
                        [this] { form_.SizeDown(); }, [this] { return QString::number(form_.SizeMinutes()); });

    // The notification controls: kept on the form, shown by neither use.
    auto* rgAnnMode = new QGroupBox(QStringLiteral("Оповещение"), this);
    rgAnnMode->setObjectName(QStringLiteral("rgAnnMode"));
    auto* modes = new QVBoxLayout(rgAnnMode);
    auto* modeGroup = new QButtonGroup(rgAnnMode);
    for (int i = 0; i < 4; ++i) {
        auto* b = new QRadioButton(Q(TFormMailAdd::kAnnModes[i]), rgAnnMode);
        modeGroup->addButton(b, i);
        modes->addWidget(b);
        b->setChecked(i == form_.AnnMode());
    }
    auto* lblPeriod = new QLabel(QStringLiteral("Период оповещения, мин:"), this);
    lblPeriod->setObjectName(QStringLiteral("Label3"));
    auto* udAnnPeriod = new TUpDownEdit(this);
    udAnnPeriod->setObjectName(QStringLiteral("udAnnPeriod"));
    udAnnPeriod->Edit()->setObjectName(QStringLiteral("edtAnnPeriod"));
    udAnnPeriod->SetText(QString::number(form_.AnnPeriod()));
    udAnnPeriod->setReadOnly(true);
    lblPeriod->setBuddy(udAnnPeriod);
    const bool announce = form_.AnnouncementVisible();
    for (QWidget* w : std::initializer_list<QWidget*>{rgAnnMode, lblPeriod, udAnnPeriod})
        w->setVisible(announce);

    auto* grid = new QGridLayout;
    grid->addWidget(lblOwner, 0, 0);
    grid->addWidget(edtOwner_, 0, 1);
    grid->addWidget(lblSize, 1, 0);
    grid->addWidget(udSize_, 1, 1, Qt::AlignLeft);
    grid->addWidget(rgAnnMode, 2, 0, 1, 2);
    grid->addWidget(lblPeriod, 3, 0);
    grid->addWidget(udAnnPeriod, 3, 1, Qt::AlignLeft);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    AddOkCancel(*this, *layout);
    FixSize(*this);
}

}  // namespace kv
