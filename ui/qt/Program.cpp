#include "ui/qt/Program.h"

#include <QWidget>

#include "serial/VaComm.h"

namespace kv {

TProgram::TProgram(TSettingsStore& store, const std::string& executable)
{
    SetUiBridge(&bridge_);
    SetApplicationExceptionHandler(ShowExceptionMessage);
    dialogsInstalled_ = std::make_unique<TInstallDialogs<TDialogs>>(dialogs_);
    window_ = std::make_unique<TMainWindow>(store, executable);
    dialogs_.SetParent(window_.get());
    values_ = std::make_unique<TQtValueDialogs>(window_.get());
    valuesInstalled_ = std::make_unique<TInstallDialogs<TValueDialogs>>(*values_);
    collections_ = std::make_unique<TQtCollectionDialogs>(window_.get());
    collectionsInstalled_ = std::make_unique<TInstallDialogs<TCollectionDialogs>>(*collections_);
    signals_ = std::make_unique<TSystemSignals>([this](int) { window_->Form().RequestClose(); });
}

TProgram::~TProgram()
{
    signals_.reset();
    window_.reset();
    bridge_.Shutdown();
    TVaCustomComm::WaitThreadsEnded(5000);
    collectionsInstalled_.reset();
    valuesInstalled_.reset();
    dialogsInstalled_.reset();
    SetApplicationExceptionHandler(nullptr);
    SetUiBridge(nullptr);
}

}  // namespace kv
