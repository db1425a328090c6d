#include "ui/qt/FleetDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/FormBackup.h"
#include "ui/Unit1.h"
#include "ui/qt/DialogKit.h"

namespace kv {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QPushButton* button(const char* name, const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

bool connected(TForm1& form)
{
    const int mode = form.Session().mode;
    return mode == kModeAdmin || mode == kModeSystem;
}

}  // namespace

TFleetDialog::TFleetDialog(TForm1& form, TFormBackup& backup, TSecretStore& secrets, QWidget* parent)
    : QDialog(parent), form_(form), backup_(backup), secrets_(secrets), program_(DefaultProgram())
{
    setObjectName(QStringLiteral("FormFleet"));
    setWindowTitle(QString::fromUtf8(TFleetPanel::kCaption));
    auto* layout = new QVBoxLayout(this);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("Файл парка:"), this));
    file_ = new QLineEdit(this);
    file_->setObjectName(QStringLiteral("edtFleetFile"));
    file_->setReadOnly(true);
    fileRow->addWidget(file_, 1);
    QPushButton* choose = button("btnFleetFile", "Выбрать...", this);
    fileRow->addWidget(choose);
    layout->addLayout(fileRow);

    units_ = new QTableWidget(0, static_cast<int>(TFleetPanel::Headers().size()), this);
    units_->setObjectName(QStringLiteral("sgFleet"));
    QStringList headers;
    for (const char* h : TFleetPanel::Headers())
        headers << QString::fromUtf8(h);
    units_->setHorizontalHeaderLabels(headers);
    units_->setSelectionBehavior(QAbstractItemView::SelectRows);
    units_->setSelectionMode(QAbstractItemView::SingleSelection);
    units_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    units_->verticalHeader()->hide();
    units_->horizontalHeader()->setStretchLastSection(true);
    // Before any unit is listed, the columns are as wide as their titles.
    units_->resizeColumnsToContents();
    layout->addWidget(units_, 1);

    auto* runRow = new QHBoxLayout;
    runAll_ = button("btnFleetRun", "Сохранить все", this);
    runUnit_ = button("btnFleetRunUnit", "Сохранить выбранное", this);
    run_ = new QLabel(this);
    run_->setObjectName(QStringLiteral("lblRun"));
    run_->setWordWrap(true);
    runRow->addWidget(runAll_);
    runRow->addWidget(runUnit_);
    runRow->addWidget(run_, 1);
    layout->addLayout(runRow);

    auto* connectRow = new QHBoxLayout;
    connect_ = button("btnFleetConnect", "Подключиться", this);
    remember_ = new QCheckBox(QStringLiteral("Запомнить пароль устройства"), this);
    remember_->setObjectName(QStringLiteral("cbRememberPassword"));
    secret_ = new QLabel(this);
    secret_->setObjectName(QStringLiteral("lblSecret"));
    secret_->setWordWrap(true);
    connectRow->addWidget(connect_);
    connectRow->addWidget(remember_);
    connectRow->addWidget(secret_, 1);
    layout->addLayout(connectRow);

    history_ = new QTreeWidget(this);
    history_->setObjectName(QStringLiteral("tvHistory"));
    history_->setColumnCount(3);
    history_->setHeaderLabels({QStringLiteral("Версия"), QStringLiteral("Дата"), QStringLiteral("Изменения")});
    history_->setRootIsDecorated(true);
    layout->addWidget(history_, 1);

    auto* versionRow = new QHBoxLayout;
    compare_ = button("btnFleetCompare", "Сравнить с устройством", this);
    restore_ = button("btnFleetRestore", "Восстановить эту версию", this);
    close_ = button("btnFleetClose", "Закрыть", this);
    versionRow->addWidget(compare_);
    versionRow->addWidget(restore_);
    versionRow->addStretch(1);
    versionRow->addWidget(close_);
    layout->addLayout(versionRow);
    resize(900, 560);

    connect(choose, &QPushButton::clicked, this, [this] { chooseFile(); });
    connect(runAll_, &QPushButton::clicked, this, [this] { StartRun(false); });
    connect(runUnit_, &QPushButton::clicked, this, [this] { StartRun(true); });
    connect(connect_, &QPushButton::clicked, this, [this] { ConnectUnit(); });
    connect(compare_, &QPushButton::clicked, this, [this] { CompareVersion(); });
    connect(restore_, &QPushButton::clicked, this, [this] { RestoreVersion(); });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    connect(remember_, &QCheckBox::toggled, this, [this](bool on) { rememberToggled(on); });
    connect(units_, &QTableWidget::itemSelectionChanged, this, [this] { showHistory(); });
    connect(history_, &QTreeWidget::itemSelectionChanged, this, [this] { showButtons(); });

    if (const auto remembered = form_.Store().Value(TFleetPanel::kFileKey); remembered && !remembered->empty())
        OpenFile(*remembered);
    showButtons();
}

TFleetDialog::~TFleetDialog()
{
    *alive_ = false;
}

std::string TFleetDialog::DefaultProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/kvbackup");
    if (QFileInfo(beside).isExecutable())
        return QFile::encodeName(beside).toStdString();
    const QString found = QStandardPaths::findExecutable(QStringLiteral("kvbackup"));
    return found.isEmpty() ? std::string("kvbackup") : QFile::encodeName(found).toStdString();
}

void TFleetDialog::say(const std::string& text)
{
    run_->setText(q(text));
}

void TFleetDialog::chooseFile()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenFleetDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Файлы парка (*.toml)"), QStringLiteral("Все файлы (*)")});
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    OpenFile(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

bool TFleetDialog::OpenFile(const std::string& path)
{
    std::string error;
    const bool opened = panel_.Open(path, error);
    file_->setText(q(opened ? panel_.Fleet().path : path));
    if (opened)
        form_.Store().SetValue(TFleetPanel::kFileKey, panel_.Fleet().path);
    say(opened ? std::string() : error);
    showUnits();
    return opened;
}

void TFleetDialog::showUnits()
{
    const std::string selected = SelectedUnit();
    const QSignalBlocker block(units_);
    units_->setRowCount(0);
    int row = 0, keep = -1;
    for (const TFleetPanel::TRow& r : panel_.Rows()) {
        units_->insertRow(row);
        const std::array<std::string, 5> cells = {r.name, r.device, r.lastSuccess, r.lastChange, r.failingSince};
        for (size_t c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(q(cells[c]));
            if (r.failing) {
                item->setForeground(Qt::red);
                item->setToolTip(q(r.lastMessage));
            }
            units_->setItem(row, static_cast<int>(c), item);
        }
        if (r.name == selected)
            keep = row;
        ++row;
    }
    units_->resizeColumnsToContents();
    if (keep < 0 && row > 0)
        keep = 0;
    if (keep >= 0)
        units_->selectRow(keep);
    showHistory();
}

std::string TFleetDialog::SelectedUnit() const
{
    const auto rows = units_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    const QTableWidgetItem* item = units_->item(rows.front().row(), 0);
    return item ? item->text().toStdString() : std::string();
}

void TFleetDialog::SelectUnit(const std::string& name)
{
    for (int row = 0; row < units_->rowCount(); ++row)
        if (units_->item(row, 0)->text().toStdString() == name)
            units_->selectRow(row);
}

std::string TFleetDialog::SelectedVersion() const
{
    QTreeWidgetItem* item = history_->currentItem();
    if (!item || history_->selectedItems().isEmpty())
        return {};
    while (item->parent())
        item = item->parent();
    return item->data(0, Qt::UserRole).toString().toStdString();
}

void TFleetDialog::showHistory()
{
    history_->clear();
    const std::string name = SelectedUnit();
    if (!name.empty()) {
        std::vector<TFleetPanel::TVersion> versions;
        std::string error;
        if (!panel_.History(name, versions, error))
            say(error);
        for (const auto& v : versions) {
            auto* item = new QTreeWidgetItem(history_, {q(v.shortId), q(v.when), q(v.subject)});
            item->setData(0, Qt::UserRole, q(v.id));
            for (const std::string& change : v.changes)
                new QTreeWidgetItem(item, {QString(), QString(), q(change)});
        }
        history_->expandAll();
        history_->resizeColumnToContents(0);
        history_->resizeColumnToContents(1);
        if (history_->topLevelItemCount() > 0)
            history_->setCurrentItem(history_->topLevelItem(0));
        // The tick shows whether the secret store keeps this unit's password.
        secrets_.Read(panel_.SecretKey(name), [this, alive = alive_, name](bool found, const std::string&,
                                                                        const std::string& storeError) {
            if (!*alive)
                return;
            if (name == SelectedUnit()) {
                const QSignalBlocker block(remember_);
                remember_->setChecked(found);
                secret_->setText(storeError.empty() ? QString() : q("Хранилище паролей недоступно: " + storeError));
            }
            if (onSecretDone)
                onSecretDone();
        });
    }
    showButtons();
}

void TFleetDialog::showButtons()
{
    const bool running = Running();
    const bool unit = !SelectedUnit().empty();
    const bool version = !SelectedVersion().empty();
    runAll_->setEnabled(panel_.IsOpen() && !running);
    runUnit_->setEnabled(unit && !running);
    connect_->setEnabled(unit);
    remember_->setEnabled(unit);
    compare_->setEnabled(version);
    restore_->setEnabled(version);
    close_->setEnabled(!running);
}

bool TFleetDialog::Running() const
{
    return process_ != nullptr;
}

void TFleetDialog::StartRun(bool selectedOnly)
{
    if (Running() || !panel_.IsOpen())
        return;
    const std::string unit = selectedOnly ? SelectedUnit() : std::string();
    if (selectedOnly && unit.empty())
        return;
    QStringList args;
    for (const std::string& a : panel_.RunArguments(unit))
        args << q(a);
    process_ = new QProcess(this);
    connect(process_, &QProcess::finished, this,
            [this](int code, QProcess::ExitStatus status) { runEnded(code, status); });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        say("kvbackup не запускается: " + process_->errorString().toStdString());
        process_->deleteLater();
        process_ = nullptr;
        showButtons();
        if (onRunEnded)
            onRunEnded();
    });
    say(unit.empty() ? "Сохранение всех устройств..." : "Сохранение " + unit + "...");
    process_->start(QFile::decodeName(program_.c_str()), args);
    showButtons();
}

void TFleetDialog::runEnded(int exitCode, QProcess::ExitStatus status)
{
    const std::string out = process_->readAllStandardOutput().toStdString();
    const std::string err = process_->readAllStandardError().toStdString();
    process_->deleteLater();
    process_ = nullptr;
    std::string error;
    if (!panel_.Refresh(error)) {
        say(error);
    } else {
        showUnits();
        say(TFleetPanel::RunSummary(exitCode, status == QProcess::CrashExit, out, err));
    }
    showButtons();
    if (onRunEnded)
        onRunEnded();
}

void TFleetDialog::reject()
{
    // A run goes on to its end: the dialog stays until then.
    if (Running())
        return;
    QDialog::reject();
}

void TFleetDialog::connectThen(std::function<void()> then)
{
    const std::string name = SelectedUnit();
    const TFleetUnit* unit = panel_.Unit(name);
    if (!unit)
        return;
    const std::string device = unit->device;
    const std::string key = panel_.SecretKey(name);
    // Connected: the password it logged in with goes to the secret store
    // when ticked, then the action.
    auto finish = [this, alive = alive_, key, then] {
        if (remember_->isChecked())
            secrets_.Write(key, form_.Session().password, [this, alive](const std::string& error) {
                if (*alive)
                    secret_->setText(error.empty() ? QStringLiteral("Пароль сохранён в хранилище паролей")
                                                   : q("Пароль не сохранён в хранилище паролей: " + error));
                if (*alive && onSecretDone)
                    onSecretDone();
            });
        then();
        if (*alive && onConnectDone)
            onConnectDone();
    };
    if (connected(form_) && form_.PortDevice() == device) {
        finish();
        return;
    }
    auto go = [this, alive = alive_, name, device, finish](const std::string& remembered) {
        if (!*alive)
            return;
        form_.ConnectTo(device, panel_.ConnectPassword(name, remembered));
        if (!*alive)
            return;
        if (connected(form_))
            finish();
        else if (onConnectDone)
            onConnectDone();
    };
    if (!remember_->isChecked()) {
        go({});
        return;
    }
    secrets_.Read(key, [this, alive = alive_, go](bool found, const std::string& value, const std::string& error) {
        if (*alive && !error.empty())
            secret_->setText(q("Хранилище паролей недоступно: " + error));
        go(found ? value : std::string());
    });
}

void TFleetDialog::ConnectUnit()
{
    connectThen([this] { accept(); });
}

void TFleetDialog::versionAction(bool restore)
{
    const std::string name = SelectedUnit();
    const std::string version = SelectedVersion();
    if (name.empty() || version.empty())
        return;
    std::string path, error;
    if (WriteVersionFile(panel_.Fleet(), name, version, path, error) != 0) {
        say(error);
        return;
    }
    connectThen([this, path, restore] {
        if (restore)
            backup_.RestoreFrom(path);
        else
            backup_.CompareWith(path);
    });
}

void TFleetDialog::CompareVersion()
{
    versionAction(false);
}

void TFleetDialog::RestoreVersion()
{
    versionAction(true);
}

void TFleetDialog::rememberToggled(bool on)
{
    const std::string name = SelectedUnit();
    if (on || name.empty())
        return;
    secrets_.Remove(panel_.SecretKey(name), [this, alive = alive_](const std::string& error) {
        if (*alive)
            secret_->setText(error.empty() ? QString() : q("Пароль не удалён из хранилища паролей: " + error));
        if (*alive && onSecretDone)
            onSecretDone();
    });
}

}  // namespace kv
