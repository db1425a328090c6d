// The window "Журнал обмена": the exchange trace, live, in a window of its
// own that stays usable while the main window is busy, with "Сохранить..."
// (a UTF-8 text file) and "Очистить".
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "trace/Trace.h"

namespace kv {

class TTraceDialog : public QWidget {
public:
    static constexpr const char* kCaption = "Журнал обмена";
    static constexpr const char* kSaveCaption = "Сохранить...";
    static constexpr const char* kClearCaption = "Очистить";
    static constexpr const char* kProposedFile = "kvmanage-trace.txt";

    // A window of its own, not modal. The main window gives it no parent:
    // a window it parents is blocked by the dialogs modal to it.
    explicit TTraceDialog(TTraceLog& log, QWidget* parent = nullptr);
    ~TTraceDialog() override;

    // "Сохранить...": asks for a file and writes the trace into it.
    void Save();
    // Writes the trace into `path`, replacing the file only once it is
    // complete; false, with the error shown, when it fails.
    bool SaveTo(const std::string& path);

    QPlainTextEdit* View() const { return view_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    TTraceLog& log_;
    QPlainTextEdit* view_;
    QPushButton* save_;
    QPushButton* clear_;
    uint64_t lastSeq_ = 0;
    bool openShown_ = false;
    std::deque<uint64_t> shown_;  // the sequence number of each complete line shown
};

}  // namespace kv
