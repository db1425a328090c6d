#include "collections/Dialogs.h"

namespace kv {

namespace {

class TCancelDialogs : public TCollectionDialogs {
public:
    bool Confirm(const std::string&) override { return false; }
    bool AskYesNo(const std::string&) override { return false; }
    bool Execute(TFormList2&) override { return false; }
    bool Execute(TFormMenuItm&) override { return false; }
    bool Execute(TFormMailAdd&) override { return false; }
};

}  // namespace

TCollectionDialogs& TDialogSetTraits<TCollectionDialogs>::Default()
{
    static TCancelDialogs cancel;
    return cancel;
}

TCollectionDialogs& CollectionDialogs()
{
    return DialogsInForce<TCollectionDialogs>();
}

}  // namespace kv
