#include "fleet/Changes.h"

namespace kv {

namespace {

const char* const kArrow = " → ";

std::string shown(const std::string& text)
{
    return text.empty() ? "(пусто)" : text;
}

// A voice menu as the history names it: "Меню 2"; a greeting by its
// screen's name ("Дневное").
std::string menuName(const TSnapshotLayout& layout, int32_t code)
{
    if (code >= 0 && code < 20)
        return "Меню " + std::to_string(code);
    for (const auto& m : layout.Menus())
        if (m.code == code)
            return m.name;
    return "Меню " + std::to_string(code);
}

bool isPassword(const TSnapshotLayout& layout, const TDifference& d)
{
    if (d.kind != TDifference::Param)
        return false;
    const TSnapshotLayout::TParam* p = layout.Param(d.code);
    return p && p->password;
}

}  // namespace

std::string ChangeLine(const TSnapshotLayout& layout, const TDifference& d)
{
    if (isPassword(layout, d))
        return d.name + ": изменён";
    // The compare's "unit" side is the earlier snapshot, its "file" side the later.
    const std::string& before = d.unitText;
    const std::string& after = d.fileText;
    switch (d.kind) {
    case TDifference::MenuKey:
        return menuName(layout, d.code) + ", клавиша " + std::to_string(d.key) + ": " + shown(before) + kArrow +
               shown(after);
    case TDifference::MenuCode:
        return menuName(layout, d.code) + ", код вызова: " + shown(before) + kArrow + shown(after);
    case TDifference::MailEdit: return "Ящик " + d.entry + ": размер " + before + kArrow + after;
    case TDifference::ListAdd: return d.name + ": добавлен";
    case TDifference::ListRemove: return d.name + ": удалён";
    case TDifference::MailCreate: return d.name + ": добавлен (" + after + ")";
    case TDifference::MailDelete: return d.name + ": удалён (был " + before + ")";
    default: break;
    }
    return d.name + ": " + shown(before) + kArrow + shown(after);
}

std::vector<std::string> ChangeLines(const TSnapshotLayout& layout, const TSnapshot& before, const TSnapshot& after)
{
    std::vector<std::string> lines;
    if (before.mode != after.mode)
        lines.push_back(std::string("Режим снимка: ") + (before.System() ? "системный" : "администратора") + kArrow +
                        (after.System() ? "системный" : "администратора"));
    const TComparison comparison = Compare(layout, before, after);
    for (const TDifference& d : comparison.differences)
        lines.push_back(ChangeLine(layout, d));
    return lines;
}

TPasswords PasswordsOf(const TSnapshotLayout& layout, const TSnapshot& snapshot)
{
    TPasswords out;
    for (const auto& p : layout.Params())
        if (p.password)
            if (auto it = snapshot.params.find(p.code); it != snapshot.params.end())
                out[p.code] = it->second;
    return out;
}

TSnapshot WithoutPasswords(const TSnapshotLayout& layout, const TSnapshot& snapshot)
{
    TSnapshot out = snapshot;
    for (const auto& p : layout.Params())
        if (p.password)
            if (auto it = out.params.find(p.code); it != out.params.end())
                it->second.clear();
    return out;
}

void PutPasswords(TSnapshot& snapshot, const TPasswords& passwords)
{
    for (const auto& [code, value] : passwords)
        if (auto it = snapshot.params.find(code); it != snapshot.params.end())
            it->second = value;
}

std::string ChangeCount(size_t n)
{
    const size_t last = n % 10, lastTwo = n % 100;
    const char* word = "изменений";
    if (last == 1 && lastTwo != 11)
        word = "изменение";
    else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        word = "изменения";
    return std::to_string(n) + " " + word;
}

}  // namespace kv
