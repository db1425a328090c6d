#include "collections/Factory.h"

#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"

namespace kv {

TCollectionFactory CollectionFactory()
{
    TCollectionFactory f;
    f.extensionList = [](TLinesModel& memNumbers) -> std::unique_ptr<TJoint1> {
        auto list = std::make_unique<TListDlg>();
        list->target = &memNumbers;
        return list;
    };
    f.voiceMenu = []() -> std::unique_ptr<TJoint1> { return std::make_unique<TMenuDlg>(); };
    f.mailboxes = [](TGridModel& sgMail, TTextField& edtFreeSpace) -> std::unique_ptr<TJoint1> {
        auto mail = std::make_unique<TMailDlg>();
        mail->grid = &sgMail;
        mail->freeField = &edtFreeSpace;
        return mail;
    };
    f.voiceFile = []() -> std::unique_ptr<TJoint1> { return std::make_unique<TFile>(); };
    return f;
}

}  // namespace kv
