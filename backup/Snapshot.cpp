#include "backup/Snapshot.h"

#include <time.h>

#include <algorithm>
#include <set>

#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "collections/Wire.h"
#include "session/Cp1251.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"

namespace kv {

namespace {

const char* const kSignature = "kvmanage-snapshot";

using TKind = TSnapshotLayout::TKind;

std::string numberText(int32_t n)
{
    return std::to_string(n);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Whether the unit can hold the text: it is well-formed UTF-8 and every
// character has a byte in the unit's code page (anything else does not
// convert back to itself).
bool unitCanHold(const std::string& text)
{
    return Cp1251ToUtf8(Utf8ToCp1251(text)) == text;
}

// The type of the object that holds a parameter.
bool kindOf(TJoint1* object, TKind& kind, std::vector<std::string>& items)
{
    if (dynamic_cast<TVersion*>(object))
        return false;
    if (dynamic_cast<TVFCode*>(object))
        kind = TKind::Code;
    else if (dynamic_cast<TNumber*>(object))
        kind = TKind::Number;
    else if (dynamic_cast<TDirectory*>(object))
        kind = TKind::Digits;
    else if (auto* choice = dynamic_cast<TChoice*>(object)) {
        kind = TKind::Choice;
        items = choice->items;
    } else if (dynamic_cast<TTimeDlg*>(object))
        kind = TKind::Time;
    else if (dynamic_cast<TCheck*>(object))
        kind = TKind::Check;
    else
        return false;
    return true;
}

// ---- the reader's pieces

// A line split at its blanks: the first words, and the rest of the line
// after the blank that ends the last word asked for.
struct TWords {
    std::vector<std::string_view> words;
    std::string_view rest;
    bool hasRest = false;
};

// Takes `count` words (a word ends at one blank) and leaves the rest.
TWords splitWords(std::string_view line, size_t count)
{
    TWords w;
    size_t at = 0;
    while (w.words.size() < count && at <= line.size()) {
        const size_t blank = line.find(' ', at);
        if (blank == std::string_view::npos) {
            w.words.push_back(line.substr(at));
            at = line.size() + 1;
            break;
        }
        w.words.push_back(line.substr(at, blank - at));
        at = blank + 1;
    }
    if (at <= line.size()) {
        w.rest = line.substr(at);
        w.hasRest = true;
    }
    return w;
}

bool parseInt(std::string_view text, int32_t& value)
{
    return ParseDecimal(text, value);
}

// Natural order: runs of digits by their value.
int compareNatural(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && isDigit(a[ie]))
                ++ie;
            while (je < b.size() && isDigit(b[je]))
                ++je;
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0')
                ++is;
            while (js + 1 < je && b[js] == '0')
                ++js;
            const size_t la = ie - is, lb = je - js;
            if (la != lb)
                return la < lb ? -1 : 1;
            const int c = a.compare(is, la, b, js, lb);
            if (c != 0)
                return c < 0 ? -1 : 1;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    return compareNatural(a, b) < 0;
}

std::string SnapshotTime()
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    char text[64];
    const size_t n = ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return std::string(text, n);
}

std::string EscapeValue(std::string_view value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        const bool edgeBlank = c == ' ' && (i == 0 || i + 1 == value.size());
        if (c == '\\') {
            out += "\\\\";
        } else if (isControl(c) || edgeBlank) {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool UnescapeValue(std::string_view text, std::string& value)
{
    value.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            value += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x')
            return false;
        int byte = 0;
        for (size_t k = i + 2; k < i + 4; ++k) {
            const char h = text[k];
            const int d = isDigit(h) ? h - '0' : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : (h >= 'a' && h <= 'f') ? h - 'a' + 10 : -1;
            if (d < 0)
                return false;
            byte = byte * 16 + d;
        }
        // Only what the writer escapes: control characters and blanks.
        if (!isControl(static_cast<unsigned char>(byte)) && byte != ' ')
            return false;
        value += static_cast<char>(byte);
        i += 3;
    }
    return true;
}

bool TSnapshot::System() const
{
    return mode == kModeSystem;
}

std::string TSnapshotError::Message() const
{
    return "строка " + std::to_string(line) + ": " + text;
}

// ---- the layout

TSnapshotLayout::TSnapshotLayout(TCatalogue& c) : catalogue_(c)
{
    auto add = [this](TJoint1* object, const std::string& name, bool system, bool password = false) {
        TParam p;
        if (!object || !kindOf(object, p.kind, p.items))
            return;
        p.object = object;
        p.code = object->code;
        p.system = system;
        p.password = password;
        p.name = name;
        params_.push_back(std::move(p));
    };
    // "Номера"
    add(&c.opCode, "Код оператора", false);
    add(&c.opNumDay, "Дневной номер оператора", false);
    add(&c.opNumNight, "Ночной номер оператора", false);
    add(&c.faxNum, "Номер факса", false);
    add(&c.admPwd, "Пароль администратора", false, true);
    // "Время"
    add(&c.holiday, c.cbHoliday.Caption(), false);
    for (int row = 1; row <= 7; ++row)
        for (int col = 1; col <= 2; ++col)
            add(c.sgTime.Object(col, row), c.sgTime.Cell(0, row) + ", " + c.sgTime.Cell(col, 0), false);
    // "Системные параметры"
    for (int row = 1; row < c.sgSysParams.RowCount(); ++row) {
        TJoint1* object = c.sgSysParams.Object(2, row);
        add(object, c.sgSysParams.Cell(0, row) + " - " + c.sgSysParams.Cell(1, row), true,
            object && object->code == 0);
    }
    // Greeting replacement, row by row
    for (int row = 1; row <= 5; ++row)
        for (int col = 2; col <= 7; ++col)
            add(c.sgGreetOverride.Object(col, row),
                c.sgGreetOverride.Cell(col, 0) + ": " + c.sgGreetOverride.Cell(1, row), true);

    for (size_t i = 0; i < c.greetings.size(); ++i)
        if (TMenuDlg* menu = c.greetings[i].get())
            menus_.push_back({menu, menu->code, c.sgGreetings.Cell(0, static_cast<int>(i) + 1)});
    for (const auto& object : c.voiceMenus)
        if (TMenuDlg* menu = object.get())
            menus_.push_back({menu, menu->code, "Меню " + Format("%.2d", menu->code)});

    for (const TMenu& menu : menus_)
        slots_.push_back({menu.object, menu.code, false, menu.name + ": Файл"});
    for (size_t i = 0; i < c.messages.size(); ++i)
        if (TFile* file = c.messages[i].get())
            slots_.push_back({file, file->code, true, c.sgMessages.Cell(0, static_cast<int>(i) + 1)});
}

const TSnapshotLayout::TParam* TSnapshotLayout::Param(int32_t code) const
{
    for (const TParam& p : params_)
        if (p.code == code)
            return &p;
    return nullptr;
}

const TSnapshotLayout::TMenu* TSnapshotLayout::Menu(int32_t code) const
{
    for (const TMenu& m : menus_)
        if (m.code == code)
            return &m;
    return nullptr;
}

const TSnapshotLayout::TSlot* TSnapshotLayout::Slot(int32_t code) const
{
    for (const TSlot& s : slots_)
        if (s.code == code)
            return &s;
    return nullptr;
}

std::string TSnapshotLayout::Value(const TParam& p)
{
    return p.object->WireValue();
}

void TSnapshotLayout::SetValue(const TParam& p, const std::string& value)
{
    p.object->SetWireValue(value);
}

bool TSnapshotLayout::CheckWire(const TParam& p, const std::string& value, std::string& why)
{
    switch (p.kind) {
    case TKind::Digits: return static_cast<const TDirectory*>(p.object)->CheckWire(value, why);
    case TKind::Number: return static_cast<const TNumber*>(p.object)->CheckWire(value, why);
    case TKind::Code: return static_cast<const TVFCode*>(p.object)->CheckWire(value, why);
    case TKind::Choice: return static_cast<const TChoice*>(p.object)->CheckWire(value, why);
    case TKind::Time: return static_cast<const TTimeDlg*>(p.object)->CheckWire(value, why);
    case TKind::Check: return TCheck::CheckWire(value, why);
    }
    return false;
}

std::string TSnapshotLayout::Display(const TParam& p, const std::string& value)
{
    int32_t n = 0;
    if (p.kind == TKind::Digits)
        return value.empty() ? "Не назначен" : value;
    if (!parseInt(value, n))
        return value;
    switch (p.kind) {
    case TKind::Code:
        return CallCodeText(n).value_or(value);
    case TKind::Choice:
        return n >= 0 && static_cast<size_t>(n) < p.items.size() ? p.items[static_cast<size_t>(n)] : value;
    case TKind::Time: {
        const int32_t h = n / 100;
        return Format("%.2d:%.2d", h, n - h * 100);
    }
    case TKind::Check: return n != 0 ? "Установлен" : "Снят";
    default: return value;
    }
}

TMenuValues TSnapshotLayout::Values(const TMenuDlg& menu)
{
    TMenuValues v;
    v.callCode = menu.callCode;
    v.keys = menu.keys;
    return v;
}

TVoiceFileValues TSnapshotLayout::Values(const TFile& slot)
{
    return {slot.fileName, slot.fileName.empty() ? 0 : slot.fileSize, {}};
}

TSnapshot TSnapshotLayout::Take(int mode, const std::string& device, const std::string& taken) const
{
    TSnapshot s;
    s.taken = taken;
    s.device = device;
    s.mode = mode;
    s.firmware = catalogue_.version.value;
    const bool system = mode == kModeSystem;
    for (const TParam& p : params_)
        if (system || !p.system)
            s.params[p.code] = Value(p);
    if (TListDlg* list = catalogue_.extensionList.get()) {
        s.list = list->items;
        std::stable_sort(s.list.begin(), s.list.end(), NaturalLess);
    }
    for (const TMenu& m : menus_)
        s.menus[m.code] = Values(*m.object);
    if (TMailDlg* mail = catalogue_.mailboxes.get()) {
        for (int32_t i = 0; i < mail->boxCount && static_cast<size_t>(i) < mail->boxes.size(); ++i) {
            const TMailDlg::TBox& b = mail->boxes[static_cast<size_t>(i)];
            s.boxes.push_back({b.owner, b.size, b.mode, b.period});
        }
        std::stable_sort(s.boxes.begin(), s.boxes.end(),
                         [](const TBoxValues& a, const TBoxValues& b) { return NaturalLess(a.owner, b.owner); });
    }
    for (const TSlot& slot : slots_)
        if (system || !slot.system)
            s.files[slot.code] = Values(*slot.object);
    return s;
}

// ---- writing

namespace {

class TLines {
public:
    void Line(const std::string& text = {}) { text_ += text + "\n"; }
    void Comment(const std::string& text) { Line("# " + text); }
    // A key and its value; the key alone for an empty value.
    void Value(const std::string& key, const std::string& value)
    {
        Line(value.empty() ? key : key + " " + EscapeValue(value));
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

}  // namespace

std::string TSnapshotLayout::Write(const TSnapshot& s, bool withFiles) const
{
    TLines out;
    const bool system = s.System();
    out.Line(std::string(kSignature) + " " + numberText(TSnapshot::kFormat));
    out.Value("taken", s.taken);
    out.Value("device", s.device);
    out.Line(std::string("mode ") + (system ? "system" : "admin"));
    out.Comment("Версия прошивки: " + Format("%d.%d.%d", s.firmware / 10000, s.firmware % 10000 / 100, s.firmware % 100));
    out.Line("firmware " + numberText(s.firmware));

    auto param = [&](const TParam& p) {
        auto it = s.params.find(p.code);
        if (it == s.params.end() || (p.system && !system))
            return;
        out.Comment(p.name);
        out.Value(std::string(p.system ? "system " : "param ") + numberText(p.code), it->second);
    };
    auto section = [&](const char* title) {
        out.Line();
        out.Comment(std::string("---- ") + title);
    };
    auto menu = [&](const TMenu& m) {
        auto it = s.menus.find(m.code);
        if (it == s.menus.end())
            return;
        const std::string key = "menu " + numberText(m.code);
        out.Comment(m.name);
        out.Line(key + " code " + numberText(it->second.callCode));
        for (size_t k = 0; k < it->second.keys.size(); ++k)
            out.Value(key + " key " + numberText(static_cast<int32_t>(k)), it->second.keys[k]);
    };

    section("Номера");
    for (const TParam& p : params_)
        if (p.code >= 100 && p.code <= 104)
            param(p);
    out.Comment("Добавочные номера");
    for (const std::string& entry : s.list)
        out.Value("list", entry);

    section("Приветствия");
    for (const TMenu& m : menus_)
        if (m.code >= 20)
            menu(m);

    section("Время");
    for (const TParam& p : params_)
        if (p.code >= 110 && p.code <= 124)
            param(p);

    section("Меню");
    for (const TMenu& m : menus_)
        if (m.code < 20)
            menu(m);

    section("Почта: владелец, размер в секундах, режим и период оповещения");
    for (const TBoxValues& b : s.boxes)
        out.Line("mailbox " + EscapeValue(b.owner) + " " + numberText(b.size) + " " + numberText(b.mode) + " " +
                 numberText(b.period));

    if (system) {
        section("Системные параметры");
        for (const TParam& p : params_)
            if (p.system && p.code < 100)
                param(p);
        section("Замена приветствий голосовыми меню");
        for (const TParam& p : params_)
            if (p.system && p.code >= 500)
                param(p);
    }

    if (withFiles && !s.files.empty()) {
        section("Голосовые файлы: имя на устройстве, размер");
        for (const TSlot& slot : slots_) {
            auto it = s.files.find(slot.code);
            if (it == s.files.end() || (slot.system && !system))
                continue;
            out.Comment(slot.name);
            const std::string key = "voicefile " + numberText(slot.code);
            const TVoiceFileValues& f = it->second;
            out.Line(f.name.empty() ? key
                                    : key + " " + EscapeValue(f.name) + " " + numberText(f.size) +
                                          (f.sha256.empty() ? "" : " sha256:" + f.sha256));
        }
    }
    out.Line();
    out.Line("end");
    return out.Text();
}

// ---- reading

namespace {

class TReader {
public:
    TReader(const TSnapshotLayout& layout, TSnapshot& s, TSnapshotError& e) : layout_(layout), s_(s), e_(e) {}

    bool Read(std::string_view text);

private:
    bool fail(const std::string& why)
    {
        e_.line = line_;
        e_.text = why;
        return false;
    }
    bool header(std::string_view line);
    bool body(std::string_view line);
    bool param(const TWords& w, bool system);
    bool menu(const TWords& w);
    bool mailbox(std::string_view line);
    bool voiceFile(const TWords& w);
    bool complete();
    // The value after a key: unescaped, free of what the unit cannot hold.
    bool value(std::string_view raw, std::string& out);
    bool once(const std::string& key);

    const TSnapshotLayout& layout_;
    TSnapshot& s_;
    TSnapshotError& e_;
    int line_ = 0;
    int headers_ = 0;  // header lines read so far
    bool ended_ = false;
    std::set<std::string> seen_;
};

const char* const kHeaders[] = {"taken", "device", "mode", "firmware"};
constexpr int kHeaderCount = 4;

bool TReader::Read(std::string_view text)
{
    s_ = TSnapshot{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++line_;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        for (char c : line)
            if (isControl(static_cast<unsigned char>(c)))
                return fail("управляющий символ в строке");
        if (first) {
            first = false;
            const std::string sig = std::string(kSignature) + " ";
            if (line.substr(0, sig.size()) != sig)
                return fail("это не снимок настроек (первая строка не \"" + std::string(kSignature) + " " +
                            numberText(TSnapshot::kFormat) + "\")");
            const std::string_view version = line.substr(sig.size());
            if (version != numberText(TSnapshot::kFormat))
                return fail("снимок в формате " + std::string(version) + ", программа читает формат " +
                            numberText(TSnapshot::kFormat));
            continue;
        }
        if (line.empty() || line.front() == '#')
            continue;
        if (ended_)
            return fail("строка после \"end\"");
        if (headers_ < kHeaderCount) {
            if (!header(line))
                return false;
            continue;
        }
        if (!body(line))
            return false;
    }
    if (first)
        return fail("файл пуст");
    if (!ended_)
        return fail("файл обрывается: нет строки \"end\"");
    return complete();
}

bool TReader::header(std::string_view line)
{
    const TWords w = splitWords(line, 1);
    const std::string expected = kHeaders[headers_];
    if (w.words[0] != expected)
        return fail("ожидалась строка \"" + expected + "\"");
    std::string v;
    if (!value(w.hasRest ? w.rest : std::string_view(), v))
        return false;
    switch (headers_) {
    case 0: s_.taken = v; break;
    case 1: s_.device = v; break;
    case 2:
        if (v == "admin")
            s_.mode = kModeAdmin;
        else if (v == "system")
            s_.mode = kModeSystem;
        else
            return fail("режим \"" + v + "\" не admin и не system");
        break;
    case 3:
        if (!parseInt(v, s_.firmware))
            return fail("версия прошивки не число");
        break;
    }
    ++headers_;
    return true;
}

bool TReader::value(std::string_view raw, std::string& out)
{
    if (!UnescapeValue(raw, out))
        return fail("неверная запись \"\\\" в значении");
    for (char c : out)
        if (c == '\0' || c == '\r' || c == '\n')
            return fail("значение содержит управляющий символ, который нельзя передать устройству");
    if (!unitCanHold(out))
        return fail("значение содержит символ, которого нет в кодировке устройства, или текст не в UTF-8");
    return true;
}

bool TReader::once(const std::string& key)
{
    if (!seen_.insert(key).second)
        return fail("повтор: " + key);
    return true;
}

bool TReader::body(std::string_view line)
{
    const TWords first = splitWords(line, 1);
    const std::string_view keyword = first.words[0];
    if (keyword == "end") {
        if (first.hasRest)
            return fail("после \"end\" ничего не пишется");
        ended_ = true;
        return true;
    }
    if (keyword == "param" || keyword == "system")
        return param(splitWords(line, 2), keyword == "system");
    if (keyword == "list") {
        std::string entry;
        if (!value(first.hasRest ? first.rest : std::string_view(), entry))
            return false;
        s_.list.push_back(entry);
        return true;
    }
    if (keyword == "menu")
        return menu(splitWords(line, 3));
    if (keyword == "mailbox")
        return mailbox(line);
    if (keyword == "voicefile")
        return voiceFile(splitWords(line, 2));
    return fail("неизвестная строка \"" + std::string(keyword) + "\"");
}

bool TReader::param(const TWords& w, bool system)
{
    int32_t code = 0;
    if (w.words.size() < 2 || !parseInt(w.words[1], code))
        return fail("нет кода параметра");
    const TSnapshotLayout::TParam* p = layout_.Param(code);
    if (!p)
        return fail("параметра " + numberText(code) + " нет");
    if (p->system != system)
        return fail(std::string("параметр ") + numberText(code) + (p->system ? " системный: \"system " : " не системный: \"param ") +
                    numberText(code) + "\"");
    if (system && !s_.System())
        return fail("системный параметр в снимке режима администратора");
    if (!once((system ? "system " : "param ") + numberText(code)))
        return false;
    std::string v;
    if (!value(w.hasRest ? w.rest : std::string_view(), v))
        return false;
    // The setting's own rule: what it can hold is what its dialog lets
    // through and what the unit takes.
    std::string why;
    if (!TSnapshotLayout::CheckWire(*p, v, why))
        return fail("значение параметра " + numberText(code) + ": " + why);
    if (p->kind != TKind::Digits) {
        int32_t n = 0;
        parseInt(v, n);
        v = numberText(n);
    }
    s_.params[code] = v;
    return true;
}

bool TReader::menu(const TWords& w)
{
    int32_t code = 0;
    if (w.words.size() < 3 || !parseInt(w.words[1], code) || !layout_.Menu(code))
        return fail("нет такого голосового меню");
    TMenuValues& m = s_.menus[code];
    const std::string key = "menu " + numberText(code);
    if (w.words[2] == "code") {
        if (!once(key + " code"))
            return false;
        std::string v;
        if (!value(w.hasRest ? w.rest : std::string_view(), v))
            return false;
        if (!parseInt(v, m.callCode))
            return fail("код вызова не число");
        return true;
    }
    if (w.words[2] != "key" || !w.hasRest)
        return fail("ожидалось \"code\" или \"key\"");
    const TWords k = splitWords(w.rest, 1);
    int32_t digit = 0;
    if (!parseInt(k.words[0], digit) || digit < 0 || digit > 9 || k.words[0].size() != 1)
        return fail("клавиша не 0-9");
    if (!once(key + " key " + numberText(digit)))
        return false;
    return value(k.hasRest ? k.rest : std::string_view(), m.keys[static_cast<size_t>(digit)]);
}

bool TReader::mailbox(std::string_view line)
{
    const TWords w = splitWords(line, 5);
    if (w.words.size() != 5 || w.hasRest)
        return fail("ожидалось: mailbox владелец размер режим период");
    TBoxValues b;
    if (!value(w.words[1], b.owner))
        return false;
    if (b.owner.empty() || b.owner.find(' ') != std::string::npos)
        return fail("имя владельца пусто или содержит пробел");
    if (!parseInt(w.words[2], b.size) || !parseInt(w.words[3], b.mode) || !parseInt(w.words[4], b.period))
        return fail("размер, режим и период оповещения должны быть числами");
    if (b.size < 0 || b.mode < 0 || b.mode > 255)
        return fail("размер или режим оповещения вне допустимого");
    if (!once("mailbox " + b.owner))
        return false;
    s_.boxes.push_back(b);
    return true;
}

bool TReader::voiceFile(const TWords& w)
{
    int32_t code = 0;
    if (w.words.size() < 2 || !parseInt(w.words[1], code))
        return fail("нет номера ячейки голосового файла");
    const TSnapshotLayout::TSlot* slot = layout_.Slot(code);
    if (!slot)
        return fail("ячейки голосового файла " + numberText(code) + " нет");
    if (slot->system && !s_.System())
        return fail("сообщение " + numberText(code) + " только в снимке системного режима");
    if (!once("voicefile " + numberText(code)))
        return false;
    TVoiceFileValues f;
    if (w.hasRest) {
        std::string_view rest = w.rest;
        // The content hash, last; older snapshots have none.
        const size_t last = rest.rfind(' ');
        const std::string_view hashKey = "sha256:";
        if (last != std::string_view::npos && rest.substr(last + 1, hashKey.size()) == hashKey) {
            const std::string_view hex = rest.substr(last + 1 + hashKey.size());
            if (hex.size() != 64 || hex.find_first_not_of("0123456789abcdef") != std::string_view::npos)
                return fail("хеш SHA-256 не из 64 шестнадцатеричных цифр");
            f.sha256 = std::string(hex);
            rest = rest.substr(0, last);
        }
        const size_t blank = rest.rfind(' ');
        if (blank == std::string_view::npos || !parseInt(rest.substr(blank + 1), f.size) || f.size < 0)
            return fail("ожидалось: voicefile ячейка имя размер [sha256:хеш]");
        if (!value(rest.substr(0, blank), f.name))
            return false;
        if (f.name.empty() || f.name.find(' ') != std::string::npos)
            return fail("имя файла пусто или содержит пробел");
    }
    s_.files[code] = f;
    return true;
}

bool TReader::complete()
{
    for (const auto& p : layout_.Params()) {
        if (p.system && !s_.System())
            continue;
        const std::string key = (p.system ? "system " : "param ") + numberText(p.code);
        if (!seen_.count(key))
            return fail("нет значения \"" + key + "\" (" + p.name + ")");
    }
    for (const auto& m : layout_.Menus()) {
        const std::string key = "menu " + numberText(m.code);
        if (!seen_.count(key + " code"))
            return fail("нет значения \"" + key + " code\" (" + m.name + ")");
        for (int k = 0; k < 10; ++k)
            if (!seen_.count(key + " key " + numberText(k)))
                return fail("нет значения \"" + key + " key " + numberText(k) + "\" (" + m.name + ")");
    }
    return true;
}

}  // namespace

bool TSnapshotLayout::Read(std::string_view text, TSnapshot& snapshot, TSnapshotError& error) const
{
    TReader reader(*this, snapshot, error);
    return reader.Read(text);
}

}  // namespace kv
