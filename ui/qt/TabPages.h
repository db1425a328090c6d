// The seven tab pages of the main window as widgets.
//
// TTabPages places every control of the pages, each with its control name
// as objectName (so TForm1's SetControlEnabled finds it), binds the
// catalogue's models to the widgets through the view adapters, and passes
// the user's clicks and double clicks to the screens' rules (TScreens). It
// holds no rule of its own.
//
// The widgets' adapters watch models of the catalogue, so the pages' widgets
// must go before the TForm1 that owns the models (the main window deletes
// its children before its form).
#pragma once

#include <QObject>
#include <array>

#include "ui/Unit1.h"

class QWidget;

namespace kv {

class TTabPages : public QObject {
public:
    // Fills the page control's pages, given in the tabs' order (kTabNumbers
    // ...), each empty and without a layout.
    TTabPages(TForm1& form, const std::array<QWidget*, kTabCount>& pages, QObject* parent = nullptr);
    ~TTabPages() override;

private:
    void buildNumbers(QWidget* page);
    void buildGreetings(QWidget* page);
    void buildTime(QWidget* page);
    void buildMenu(QWidget* page);
    void buildMail(QWidget* page);
    void buildSysParams(QWidget* page);
    void buildMessages(QWidget* page);

    TForm1& form_;
};

}  // namespace kv
