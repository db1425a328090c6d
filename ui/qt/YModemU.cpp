#include "ui/qt/YModemU.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/DialogKit.h"
#include "ui/qt/ViewAdapters.h"

namespace kv {

void TYModemDialog::Execute(TFormYMU& form, QWidget* parent)
{
    RunModal(new TYModemDialog(form, parent));
}

TYModemDialog::TYModemDialog(TFormYMU& form, QWidget* parent) : TJobDialog(parent), form_(&form)
{
    setObjectName(QStringLiteral("FormYMU"));
    setWindowTitle(Q(TFormYMU::kCaption));

    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("Label1"));
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    title_->setMinimumWidth(title_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("ProgressBar1"));
    progress_->setTextVisible(false);
    title_->setBuddy(progress_);

    auto field = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setReadOnly(true);
        e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
        return e;
    };
    auto label = [this](const char* name, const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setBuddy(buddy);
        return l;
    };
    bytes_ = field("Edit2");
    total_ = field("Edit3");
    packet_ = field("Edit1");
    auto* grid = new QGridLayout;
    grid->addWidget(label("Label3", "Прогресс", bytes_), 0, 0);
    grid->addWidget(bytes_, 0, 1);
    grid->addWidget(label("Label4", "Всего", total_), 0, 2);
    grid->addWidget(total_, 0, 3);
    grid->addWidget(label("Label2", "Пакет", packet_), 1, 0);
    grid->addWidget(packet_, 1, 1);

    silence_ = new QLabel(this);
    silence_->setObjectName(QStringLiteral("lblSilence"));
    silence_->setAlignment(Qt::AlignCenter);
    silence_->setMinimumHeight(silence_->fontMetrics().height());

    cancel_ = new QPushButton(QStringLiteral("Отменить"), this);
    cancel_->setObjectName(QStringLiteral("Button1"));
    cancel_->setDefault(true);
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(progress_);
    layout->addLayout(grid);
    layout->addWidget(silence_);
    layout->addLayout(buttons);
    FixSize(*this);

    form_->onChange = [this] { showForm(); };
    form_->onClose = [this] { finish(); };
    timer_ = new TCoreTimerDriver(form_->Timer1, this);
    showForm();
}

TYModemDialog::~TYModemDialog()
{
    delete timer_;
    if (form_) {
        form_->onChange = nullptr;
        form_->onClose = nullptr;
    }
}

void TYModemDialog::showForm()
{
    if (!form_)
        return;
    title_->setText(Q(form_->Title()));
    progress_->setRange(0, form_->ProgressMax());
    progress_->setValue(form_->ProgressPos());
    packet_->setText(Q(form_->Packet()));
    bytes_->setText(Q(form_->Bytes()));
    total_->setText(Q(form_->Total()));
    silence_->setText(Q(form_->Silence()));
}

void TYModemDialog::Started()
{
    // Only once the dialog is on the screen does the form start the job.
    if (form_)
        form_->Show();
}

void TYModemDialog::reject()
{
    // "Отменить" and Escape: the form decides (and may ask first).
    if (form_)
        form_->CloseQuery();
}

void TYModemDialog::closeEvent(QCloseEvent* event)
{
    if (form_ && !form_->CloseQuery())
        event->ignore();
    else
        event->accept();
}

void TYModemDialog::finish()
{
    // The form has closed: nothing of it is touched any more. (Its onClose,
    // running now, stays as it is; a closed form never calls it again.)
    showForm();
    delete timer_;
    timer_ = nullptr;
    form_->onChange = nullptr;
    form_ = nullptr;
    accept();
    deleteLater();
}

}  // namespace kv
