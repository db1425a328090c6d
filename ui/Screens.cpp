#include "ui/Screens.h"

namespace kv {

TScreens::TScreens(TForm1& form) : form_(form) {}

void TScreens::TabShown(int /*index*/) {}

}  // namespace kv
