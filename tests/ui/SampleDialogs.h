// Every dialog of the window over sample forms, for the look tests and the
// screenshots.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "collections/Forms.h"
#include "settings/ValueDialogs.h"

namespace kv::test {

struct TSampleDialogs {
    TSampleDialogs();
    ~TSampleDialogs();

    struct TEntry {
        std::string name;  // file name of its screenshot
        QString caption;   // the caption it must show
        std::unique_ptr<QDialog> dialog;
    };
    std::vector<TEntry> dialogs;

    TFormDirectory directory{"0123*", 24, true};
    TFormChoice choice{{"0 (Не заменять)", "1 (Только приветствия)", "2 (Приветствия + меню перевода вызова)",
                        "3 (Приветствия + меню перевода вызова (кроме вызова оператора)"},
                       2};
    TFormNumber number{30, 0, 240};
    TFormTime time{18, 0};
    TFormCode code{10};
    TFormList2 list2;
    TFormMenuItm menuItm;
    TFormMenuItm menuItmDesign;
    TFormMailAdd mailCreate;
    TFormMailAdd mailEdit;
};

}  // namespace kv::test
