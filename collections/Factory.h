// The collection objects as the settings catalogue makes them.
#pragma once

#include "settings/Catalogue.h"

namespace kv {

// Hooks that make a TListDlg bound to the memo, a TMenuDlg, a TMailDlg bound
// to the mail grid and the free-space field, and a TFile. The catalogue
// then gives each its menu, code and cell.
TCollectionFactory CollectionFactory();

}  // namespace kv
