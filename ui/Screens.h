// The rules of the seven tab pages: what each reads when it is shown and
// what its buttons and grids do.
#pragma once

namespace kv {

class TForm1;

class TScreens {
public:
    explicit TScreens(TForm1& form);

    // The tab page `index` was shown.
    void TabShown(int index);

private:
    TForm1& form_;
};

}  // namespace kv
