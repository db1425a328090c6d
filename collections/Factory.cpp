#include "collections/Factory.h"

#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"

namespace kv {

TCollectionFactory CollectionFactory()
{
    TCollectionFactory f;
    f.extensionList = [](TLinesModel& memNumbers) {
        auto list = std::make_unique<TListDlg>();
        list->target = &memNumbers;
        return TCollectionObject<TListDlg>(std::move(list));
    };
    f.voiceMenu = [] { return TCollectionObject<TMenuDlg>(std::make_unique<TMenuDlg>()); };
    f.mailboxes = [](TGridModel& sgMail, TTextField& edtFreeSpace) {
        auto mail = std::make_unique<TMailDlg>();
        mail->grid = &sgMail;
        mail->freeField = &edtFreeSpace;
        return TCollectionObject<TMailDlg>(std::move(mail));
    };
    f.voiceFile = [] { return TCollectionObject<TFile>(std::make_unique<TFile>()); };
    return f;
}

}  // namespace kv
