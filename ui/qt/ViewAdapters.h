// The widgets' side of the core's view models (settings/View.h): one
// adapter per model type, so a screen only places widgets and binds them.
//
//   TGridTableModel   TGridModel as a QAbstractTableModel for a QTableView
//                     (the grid's row 0 is the table's header), with the
//                     current cell both ways and double clicks
//   TTextFieldView    TTextField in a QLineEdit
//   TStatusPanelView  TStatusPanel in a QLabel
//   TCheckBoxView     TCheckBox in a QCheckBox
//   TMemoView         TLinesModel in a read-only QPlainTextEdit
//   TTimePickerView   TTimePickerModel in a QTimeEdit
//   TCalendarView     TCalendarModel in a QCalendarWidget
//   TCoreTimerDriver  TCoreTimer driven by a QTimer
//
// Models may change on any thread; the widget is updated on its own (the
// GUI) thread only: at once when the change is made there, queued from any
// other. Program changes are copied into the widget with its signals
// blocked, so only the user's actions reach the model. An adapter stops
// listening when it is destroyed, so it must go before the model it
// watches.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "settings/View.h"

class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;
class QTimeEdit;
class QTimer;

namespace kv {

// Subscriptions of one Qt object to model notifiers. A handler runs on the
// object's thread and never once Unlink has begun.
class TModelLink {
public:
    explicit TModelLink(QObject* owner);
    ~TModelLink();
    TModelLink(const TModelLink&) = delete;
    TModelLink& operator=(const TModelLink&) = delete;

    template <typename... Args>
    void Link(TNotifier<Args...>& notifier, std::type_identity_t<std::function<void(Args...)>> handler)
    {
        auto state = state_;
        const int ticket = notifier.Subscribe([state, handler](Args... args) {
            state->Deliver([handler, args...] { handler(args...); });
        });
        unlinks_.push_back([&notifier, ticket] { notifier.Unsubscribe(ticket); });
    }
    // Stops every handler; those queued from other threads are dropped.
    void Unlink();

private:
    struct TState {
        std::mutex m;
        QObject* owner;
        bool alive = true;
        void Deliver(std::function<void()> fn);
    };
    std::shared_ptr<TState> state_;
    std::vector<std::function<void()>> unlinks_;
};

class TGridTableModel : public QAbstractTableModel {
public:
    TGridTableModel(TGridModel& grid, QObject* parent = nullptr);
    ~TGridTableModel() override;

    TGridModel& Grid() { return grid_; }

    // Shows the model in the table and binds the current cell both ways:
    // the user's cursor becomes the grid's current cell, the program's
    // current cell moves the cursor. A double click moves the current cell
    // there and calls onDoubleClick with the grid's column and row.
    void Attach(QTableView* table);
    std::function<void(int col, int row)> onDoubleClick;

    // The first n columns look like the header (a fixed column).
    void SetFixedCols(int n);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void changed(const TGridChange& change);
    void syncCounts();
    void showCurrent();

    TGridModel& grid_;
    // The counts the table was last told; the grid's own may be ahead.
    int rows_ = 0;
    int cols_ = 0;
    int fixedCols_ = 0;
    QPointer<QTableView> table_;
    TModelLink link_;
};

class TTextFieldView : public QObject {
public:
    TTextFieldView(TTextField& model, QLineEdit* edit);
    ~TTextFieldView() override;

private:
    void show();
    TTextField& model_;
    QPointer<QLineEdit> edit_;
    TModelLink link_;
};

class TStatusPanelView : public QObject {
public:
    TStatusPanelView(TStatusPanel& model, QLabel* label);
    ~TStatusPanelView() override;

private:
    void show();
    TStatusPanel& model_;
    QPointer<QLabel> label_;
    TModelLink link_;
};

class TCheckBoxView : public QObject {
public:
    TCheckBoxView(TCheckBox& model, QCheckBox* box);
    ~TCheckBoxView() override;

private:
    void show();
    TCheckBox& model_;
    QPointer<QCheckBox> box_;
    TModelLink link_;
};

class TMemoView : public QObject {
public:
    TMemoView(TLinesModel& model, QPlainTextEdit* memo);
    ~TMemoView() override;

private:
    void show();
    TLinesModel& model_;
    QPointer<QPlainTextEdit> memo_;
    TModelLink link_;
};

class TTimePickerView : public QObject {
public:
    TTimePickerView(TTimePickerModel& model, QTimeEdit* picker);
    ~TTimePickerView() override;

private:
    void show();
    TTimePickerModel& model_;
    QPointer<QTimeEdit> picker_;
    TModelLink link_;
};

class TCalendarView : public QObject {
public:
    TCalendarView(TCalendarModel& model, QCalendarWidget* calendar);
    ~TCalendarView() override;

private:
    void show();
    TCalendarModel& model_;
    QPointer<QCalendarWidget> calendar_;
    TModelLink link_;
};

class TCoreTimerDriver : public QObject {
public:
    TCoreTimerDriver(TCoreTimer& timer, QObject* parent = nullptr);
    ~TCoreTimerDriver() override;

    bool Running() const;

private:
    void follow();
    TCoreTimer& model_;
    QTimer* timer_;
    TModelLink link_;
};

}  // namespace kv
