#include "ui/qt/ViewAdapters.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTableView>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>

#include "ui/qt/DialogKit.h"

namespace kv {

// ---- TModelLink

TModelLink::TModelLink(QObject* owner) : state_(std::make_shared<TState>())
{
    state_->owner = owner;
}

TModelLink::~TModelLink()
{
    Unlink();
}

void TModelLink::Unlink()
{
    {
        std::lock_guard<std::mutex> g(state_->m);
        state_->alive = false;
    }
    for (auto& unlink : unlinks_)
        unlink();
    unlinks_.clear();
}

void TModelLink::TState::Deliver(std::function<void()> fn)
{
    std::unique_lock<std::mutex> lk(m);
    if (!alive)
        return;
    if (QThread::currentThread() == owner->thread()) {
        // The owner ends on this thread only, so it outlives this call.
        lk.unlock();
        fn();
        return;
    }
    // Posted while the owner is known alive; Qt drops it if the owner goes first.
    QMetaObject::invokeMethod(owner, std::move(fn), Qt::QueuedConnection);
}

// ---- TGridTableModel

TGridTableModel::TGridTableModel(TGridModel& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), link_(this)
{
    rows_ = std::max(0, grid_.RowCount() - TGridModel::FixedRows);
    cols_ = grid_.ColCount();
    link_.Link(grid_.changed, [this](const TGridChange& c) { changed(c); });
    link_.Link(grid_.currentChanged, [this] { showCurrent(); });
}

TGridTableModel::~TGridTableModel()
{
    link_.Unlink();
}

void TGridTableModel::Attach(QTableView* table)
{
    table_ = table;
    table->setModel(this);
    connect(table->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    grid_.SetCurrent(current.column(), current.row() + TGridModel::FixedRows);
            });
    connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid())
            return;
        const int col = index.column();
        const int row = index.row() + TGridModel::FixedRows;
        grid_.SetCurrent(col, row);
        if (onDoubleClick)
            onDoubleClick(col, row);
    });
    showCurrent();
}

void TGridTableModel::SetFixedCols(int n)
{
    fixedCols_ = n;
    if (rows_ > 0 && cols_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1), {Qt::BackgroundRole});
}

void TGridTableModel::changed(const TGridChange& change)
{
    if (change.kind == TGridChange::Size) {
        syncCounts();
        return;
    }
    if (change.col < 0 || change.col >= cols_)
        return;
    if (change.row == 0) {
        emit headerDataChanged(Qt::Horizontal, change.col, change.col);
        return;
    }
    const int r = change.row - TGridModel::FixedRows;
    if (r >= 0 && r < rows_) {
        const QModelIndex at = index(r, change.col);
        emit dataChanged(at, at, {Qt::DisplayRole});
    }
}

void TGridTableModel::syncCounts()
{
    const int rows = std::max(0, grid_.RowCount() - TGridModel::FixedRows);
    const int cols = grid_.ColCount();
    if (rows > rows_) {
        beginInsertRows(QModelIndex(), rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    } else if (rows < rows_) {
        beginRemoveRows(QModelIndex(), rows, rows_ - 1);
        rows_ = rows;
        endRemoveRows();
    }
    if (cols > cols_) {
        beginInsertColumns(QModelIndex(), cols_, cols - 1);
        cols_ = cols;
        endInsertColumns();
    } else if (cols < cols_) {
        beginRemoveColumns(QModelIndex(), cols, cols_ - 1);
        cols_ = cols;
        endRemoveColumns();
    }
    showCurrent();
}

void TGridTableModel::showCurrent()
{
    if (!table_ || !table_->selectionModel())
        return;
    const QModelIndex at = index(grid_.Row() - TGridModel::FixedRows, grid_.Col());
    if (at.isValid() && at != table_->currentIndex())
        table_->setCurrentIndex(at);
}

int TGridTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int TGridTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : cols_;
}

QVariant TGridTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return Q(grid_.Cell(index.column(), index.row() + TGridModel::FixedRows));
    if (role == Qt::BackgroundRole && index.column() < fixedCols_ && table_)
        return table_->palette().brush(QPalette::Button);
    return {};
}

QVariant TGridTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)) {
        if (section >= 0 && section < cols_)
            return Q(grid_.Cell(section, 0));
        return {};
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + TGridModel::FixedRows;
    return {};
}

Qt::ItemFlags TGridTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// ---- TTextFieldView

TTextFieldView::TTextFieldView(TTextField& model, QLineEdit* edit) : QObject(edit), model_(model), edit_(edit), link_(this)
{
    link_.Link(model_.changed, [this] { show(); });
    show();
}

TTextFieldView::~TTextFieldView()
{
    link_.Unlink();
}

void TTextFieldView::show()
{
    if (!edit_)
        return;
    QSignalBlocker block(edit_);
    edit_->setText(Q(model_.Text()));
    edit_->setEnabled(model_.Enabled());
}

// ---- TStatusPanelView

TStatusPanelView::TStatusPanelView(TStatusPanel& model, QLabel* label)
    : QObject(label), model_(model), label_(label), link_(this)
{
    link_.Link(model_.changed, [this] { show(); });
    show();
}

TStatusPanelView::~TStatusPanelView()
{
    link_.Unlink();
}

void TStatusPanelView::show()
{
    if (label_)
        label_->setText(Q(model_.Text()));
}

// ---- TCheckBoxView

TCheckBoxView::TCheckBoxView(TCheckBox& model, QCheckBox* box) : QObject(box), model_(model), box_(box), link_(this)
{
    box->setText(Q(model_.Caption()));
    link_.Link(model_.changed, [this] { show(); });
    // Only the user's click reaches the model; the box has toggled itself
    // already and shows the model's state again afterwards.
    connect(box, &QCheckBox::clicked, this, [this] {
        model_.Click();
        show();
    });
    show();
}

TCheckBoxView::~TCheckBoxView()
{
    link_.Unlink();
}

void TCheckBoxView::show()
{
    if (!box_)
        return;
    QSignalBlocker block(box_);
    box_->setChecked(model_.Checked());
    box_->setEnabled(model_.Enabled());
}

// ---- TMemoView

TMemoView::TMemoView(TLinesModel& model, QPlainTextEdit* memo) : QObject(memo), model_(model), memo_(memo), link_(this)
{
    memo->setReadOnly(true);
    link_.Link(model_.changed, [this] { show(); });
    show();
}

TMemoView::~TMemoView()
{
    link_.Unlink();
}

void TMemoView::show()
{
    if (!memo_)
        return;
    QStringList lines;
    for (const auto& line : model_.Lines())
        lines.push_back(Q(line));
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
}

// ---- TTimePickerView

TTimePickerView::TTimePickerView(TTimePickerModel& model, QTimeEdit* picker)
    : QObject(picker), model_(model), picker_(picker), link_(this)
{
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    link_.Link(model_.changed, [this] { show(); });
    // Every change the user makes, not only the last.
    connect(picker, &QTimeEdit::timeChanged, this,
            [this](const QTime& t) { model_.UserSetTime(t.hour(), t.minute(), t.second()); });
    show();
}

TTimePickerView::~TTimePickerView()
{
    link_.Unlink();
}

void TTimePickerView::show()
{
    if (!picker_)
        return;
    const QTime t(model_.Hours(), model_.Minutes(), model_.Seconds());
    if (t == picker_->time())
        return;
    QSignalBlocker block(picker_);
    picker_->setTime(t);
}

// ---- TCalendarView

TCalendarView::TCalendarView(TCalendarModel& model, QCalendarWidget* calendar)
    : QObject(calendar), model_(model), calendar_(calendar), link_(this)
{
    const TDate min = TCalendarModel::MinDate;
    calendar->setMinimumDate(QDate(min.year, min.month, min.day));
    link_.Link(model_.changed, [this] { show(); });
    auto user = [this](const QDate& d) { model_.UserClick({d.year(), d.month(), d.day()}); };
    connect(calendar, &QCalendarWidget::clicked, this, user);
    // A date chosen with the keyboard: the program's own changes are blocked.
    connect(calendar, &QCalendarWidget::selectionChanged, this, [this, user] {
        const QDate d = calendar_->selectedDate();
        if (TDate{d.year(), d.month(), d.day()} != model_.Date())
            user(d);
    });
    show();
}

TCalendarView::~TCalendarView()
{
    link_.Unlink();
}

void TCalendarView::show()
{
    if (!calendar_)
        return;
    const TDate d = model_.Date();
    QSignalBlocker block(calendar_);
    calendar_->setSelectedDate(QDate(d.year, d.month, d.day));
}

// ---- TCoreTimerDriver

TCoreTimerDriver::TCoreTimerDriver(TCoreTimer& timer, QObject* parent)
    : QObject(parent), model_(timer), timer_(new QTimer(this)), link_(this)
{
    timer_->setInterval(model_.Interval());
    connect(timer_, &QTimer::timeout, this, [this] { model_.Fire(); });
    link_.Link(model_.enabledChanged, [this](bool) { follow(); });
    follow();
}

TCoreTimerDriver::~TCoreTimerDriver()
{
    link_.Unlink();
}

bool TCoreTimerDriver::Running() const
{
    return timer_->isActive();
}

void TCoreTimerDriver::follow()
{
    // The model's state now, not the notice's: a notice queued from another
    // thread may be older.
    if (model_.Enabled())
        timer_->start();
    else
        timer_->stop();
}

}  // namespace kv
