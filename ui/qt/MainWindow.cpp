#include "ui/qt/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/qt/Clock.h"
#include "ui/qt/DeviceWatch.h"
#include "ui/qt/DialogKit.h"
#include "ui/qt/FileDialogs.h"
#include "ui/qt/FleetDialog.h"
#include "ui/qt/PortsDialog.h"
#include "ui/qt/TabPages.h"
#include "ui/qt/TraceDialog.h"
#include "ui/qt/ViewAdapters.h"
#include "ui/qt/YModemU.h"

namespace kv {

TMainWindow::TMainWindow(TSettingsStore& store, const std::string& executable, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form1"));
    buildFrame();

    form_ = std::make_unique<TForm1>(*this, store, executable);
    new TTabPages(*form_, pageWidgets_, this);
    for (int i = 0; i < 4; ++i)
        new TStatusPanelView(form_->Panel(i), panels_[static_cast<size_t>(i)]);
    backup_ = std::make_unique<TFormBackup>(*form_, *this);
    form_->ApplyControls();

    connect(Button("btnConnect"), &QPushButton::clicked, this, [this] { form_->btnConnectClick(); });
    connect(Button("btnDisconnect"), &QPushButton::clicked, this, [this] { form_->btnDisconnectClick(); });
    connect(Button("btnPort"), &QPushButton::clicked, this, [this] { form_->btnPortClick(); });
    connect(Button("btnExport"), &QPushButton::clicked, this, [this] { form_->btnExportClick(); });
    connect(Button(TForm1::TraceButton().name), &QPushButton::clicked, this, [this] { form_->btnTraceClick(); });
    for (const auto& b : TFormBackup::Buttons()) {
        const std::string name = b.name;
        connect(Button(b.name), &QPushButton::clicked, this, [this, name] { backup_->Click(name); });
    }
    connect(Button(kFleetButton.name), &QPushButton::clicked, this, [this] { ShowFleet(); });
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) { form_->TabShown(index); });

    modeTicket_ = form_->modeShown.Subscribe([this] { showDevicePresence(); });
    SetDeviceWatch(TQtDeviceWatch::ForSystem());

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    centre();
}

void TMainWindow::SetDeviceWatch(std::unique_ptr<TQtDeviceWatch> watch)
{
    if (devices_)
        devices_->Unsubscribe(devicesTicket_);
    devices_ = std::move(watch);
    devicesTicket_ = devices_->Subscribe([this] { showDevicePresence(); });
    showDevicePresence();
}

void TMainWindow::showDevicePresence()
{
    ShowDevicePresence(*panels_[1], devices_->List(), form_->PortDevice(),
                       form_->ShownMode() == kModeDisconnected);
}

TMainWindow::~TMainWindow()
{
    if (!form_->Closed())
        form_->Close();
    form_->modeShown.Unsubscribe(modeTicket_);
    devices_.reset();
    // Every widget and view watching the form's models goes before the form.
    trace_.reset();
    const QObjectList children = this->children();
    for (QObject* child : children)
        delete child;
    backup_.reset();
    form_.reset();
}

void TMainWindow::buildFrame()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("PageControl1"));
    const auto& tabs = TForm1::TabPages();
    for (int i = 0; i < kTabCount; ++i) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromUtf8(tabs[static_cast<size_t>(i)].name));
        pages_->addTab(page, QString::fromUtf8(tabs[static_cast<size_t>(i)].caption));
        pageWidgets_[static_cast<size_t>(i)] = page;
    }
    pages_->setCurrentIndex(kTabNumbers);
    // Every tab's caption in full: the page control is as wide as its tabs.
    pages_->tabBar()->setUsesScrollButtons(false);
    pages_->tabBar()->setElideMode(Qt::ElideNone);
    pages_->tabBar()->setExpanding(false);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 6, 8, 6);
    for (const auto& b : TForm1::Buttons()) {
        addButton(buttons, b);
        if (std::string(b.name) == "btnExport")
            buttons->addStretch(1);
    }
    // The fifth, usable while the window is busy.
    addButton(buttons, TForm1::TraceButton());

    status_ = new QStatusBar(this);
    status_->setObjectName(QStringLiteral("StatusBar1"));
    status_->setSizeGripEnabled(false);
    const auto& widths = TForm1::PanelWidths();
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(status_);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setMinimumWidth(widths[static_cast<size_t>(i)]);
        status_->addWidget(panel, i == 3 ? 1 : 0);
        panels_[static_cast<size_t>(i)] = panel;
    }

    QLayout* backups = buildBackupRow();

    // The client area is at least the designed size; the pages take what
    // the buttons and the status bar leave.
    const int rest = buttons->sizeHint().height() + backups->sizeHint().height() + status_->sizeHint().height();
    pages_->setMinimumSize(kClientWidth, kClientHeight - rest);

    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);
    layout->addLayout(backups);
    layout->addWidget(status_);
}

QLayout* TMainWindow::buildBackupRow()
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(8, 0, 8, 6);
    for (const auto& b : TFormBackup::Buttons())
        addButton(row, b);
    row->addStretch(1);
    addButton(row, kFleetButton);
    return row;
}

void TMainWindow::ShowFleet()
{
    if (form_->Closed() || form_->BusyCount() > 0)
        return;
    TFleetDialog dialog(*form_, *backup_, secrets_, this);
    if (!fleetProgram_.empty())
        dialog.SetProgram(fleetProgram_);
    ExecModal(dialog);
}

void TMainWindow::addButton(QBoxLayout* row, const TControlName& control)
{
    auto* button = new QPushButton(QString::fromUtf8(control.caption), this);
    button->setObjectName(QString::fromUtf8(control.name));
    button->setAutoDefault(false);
    row->addWidget(button);
}

void TMainWindow::centre()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    adjustSize();
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

QPushButton* TMainWindow::Button(const char* name) const
{
    return findChild<QPushButton*>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly);
}

// ---- TForm1View

void TMainWindow::SetCaption(const std::string& text)
{
    setWindowTitle(Q(text));
}

void TMainWindow::SetApplicationTitle(const std::string& text)
{
    QCoreApplication::setApplicationName(Q(text));
}

void TMainWindow::SetBusyLook(bool busy)
{
    pages_->setEnabled(!busy);
    if (busy && !waitCursor_)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!busy && waitCursor_)
        QApplication::restoreOverrideCursor();
    waitCursor_ = busy;
}

void TMainWindow::SetControlEnabled(const std::string& name, bool enabled)
{
    if (auto* w = findChild<QWidget*>(Q(name)))
        w->setEnabled(enabled);
}

int TMainWindow::CurrentTab() const
{
    return pages_->currentIndex();
}

void TMainWindow::SelectTab(int index)
{
    QSignalBlocker block(pages_);
    pages_->setCurrentIndex(index);
}

bool TMainWindow::ExecutePorts(TFormPorts& form)
{
    // The list the window follows, so that what the dialog offers and what
    // the port panel shows come from one source.
    if (devices_->Watching())
        form.SetPresent(PortChoices(devices_->List().Devices()));
    TPortsDialog dialog(form, this);
    // Devices plugged in or out while the dialog is open show at once.
    const int ticket = devices_->Subscribe([&] {
        form.SetPresent(PortChoices(devices_->List().Devices()));
        dialog.ShowChoices();
    });
    const bool ok = ExecModal(dialog) == QDialog::Accepted;
    devices_->Unsubscribe(ticket);
    return ok;
}

std::string TMainWindow::OpenFileName()
{
    return AskUploadFile(this).value_or(std::string());
}

std::string TMainWindow::SaveFileName(const std::string& proposed)
{
    return AskDownloadFile(this, proposed).value_or(std::string());
}

std::string TMainWindow::ExportFileName()
{
    return AskExportFile(this).value_or(std::string());
}

void TMainWindow::ExecuteTransfer(TFormYMU& form)
{
    TYModemDialog::Execute(form, this);
}

void TMainWindow::ExecuteClock(TFormClock& form)
{
    TClockDialog::Execute(form, this);
}

void TMainWindow::ShowTrace()
{
    if (!trace_)
        trace_ = std::make_unique<TTraceDialog>(form_->Trace());
    trace_->show();
    trace_->raise();
    trace_->activateWindow();
}

void TMainWindow::CloseWindow()
{
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// ---- TBackupView

std::string TMainWindow::SnapshotSaveName()
{
    return backupDialogs_.SnapshotSaveName();
}

std::string TMainWindow::SnapshotOpenName()
{
    return backupDialogs_.SnapshotOpenName();
}

bool TMainWindow::ExecuteDifferences(TFormDifferences& form)
{
    return backupDialogs_.ExecuteDifferences(form);
}

void TMainWindow::Progress(int done, int total, const std::string& what)
{
    backupDialogs_.Progress(done, total, what);
}

QProgressDialog* TMainWindow::ProgressDialog() const
{
    return backupDialogs_.ProgressDialog();
}

void TMainWindow::closeEvent(QCloseEvent* event)
{
    if (!form_->CloseQuery()) {
        event->ignore();
        return;
    }
    form_->Close();
    if (trace_)
        trace_->close();
    event->accept();
}

}  // namespace kv
