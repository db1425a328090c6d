// The snapshot file without a unit: what the writer puts on each line, that
// the reader gives back exactly what was written, every refusal of the
// reader with the line it names, and what Compare makes of two snapshots.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "collections/Factory.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "backup/Backup.h"
#include "backup/Snapshot.h"

using namespace kv;

namespace {

struct SnapshotFile : ::testing::Test {
    TCatalogue catalogue{CollectionFactory()};
    TSnapshotLayout layout{catalogue};

    // A system-mode snapshot with values that test the escapes.
    TSnapshot Sample()
    {
        TSnapshot s = layout.Take(kModeSystem, "/dev/ttyUSB0", "2026-03-07 09:05:30 +0300");
        s.firmware = 10203;
        s.params[101] = "200";
        s.params[103] = "";           // not assigned
        s.params[20] = "*2";
        s.params[12] = "500";
        s.params[15] = "3";  // rings before the answer: 1 at least
        s.list = {"", "201-210", "201-210", "220"};
        s.menus[20].keys[3] = "N205*";
        s.menus[20].keys[4] = " *2\\";  // blank first, a backslash last
        s.menus[5].callCode = 10;
        s.boxes = {{"999", 600, 0, 0}, {"Иванов", 120, 2, 30}};
        s.files[20] = {"hello.wav", 16000, std::string(64, 'c')};
        s.files[60] = {};
        return s;
    }
    std::string Text(const TSnapshot& s, bool files = true) { return layout.Write(s, files); }

    // The line of the text that starts with `start` (without its "\n").
    static std::string LineOf(const std::string& text, const std::string& start)
    {
        const size_t at = text.find("\n" + start);
        if (at == std::string::npos)
            return "<none>";
        return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    }

    // Reads `text`; the refusal's line and message.
    TSnapshotError Refusal(const std::string& text)
    {
        TSnapshot s;
        TSnapshotError e;
        EXPECT_FALSE(layout.Read(text, s, e)) << "accepted:\n" << text.substr(0, 200);
        return e;
    }
    static int LineNumber(const std::string& text, const std::string& line)
    {
        const size_t at = text.find(line);
        return at == std::string::npos ? -1 : 1 + static_cast<int>(std::count(text.begin(), text.begin() + at, '\n'));
    }
};

TEST_F(SnapshotFile, LinesHoldTheUnitsValuesWithTheirCodesAndNames)
{
    const std::string text = Text(Sample());
    EXPECT_EQ(text.substr(0, text.find('\n')), "kvmanage-snapshot 1");
    EXPECT_EQ(LineOf(text, "taken"), "taken 2026-03-07 09:05:30 +0300");
    EXPECT_EQ(LineOf(text, "mode"), "mode system");
    EXPECT_EQ(LineOf(text, "firmware"), "firmware 10203");
    EXPECT_EQ(LineOf(text, "param 103"), "param 103");  // an empty value is the key alone
    EXPECT_EQ(LineOf(text, "menu 20 key 4 "), "menu 20 key 4 \\x20*2\\\\");
    EXPECT_EQ(LineOf(text, "menu 20 key 3"), "menu 20 key 3 N205*");
    EXPECT_EQ(LineOf(text, "menu 5 code"), "menu 5 code 10");
    EXPECT_EQ(LineOf(text, "mailbox Ив"), "mailbox Иванов 120 2 30");
    EXPECT_EQ(LineOf(text, "voicefile 20"), "voicefile 20 hello.wav 16000 sha256:" + std::string(64, 'c'));
    EXPECT_EQ(LineOf(text, "voicefile 60"), "voicefile 60");
    // Each value is preceded by the name the screens give it.
    EXPECT_NE(text.find("# Дневной номер оператора\nparam 101 200\n"), std::string::npos);
    EXPECT_NE(text.find("# Понедельник, Начало\nparam 111 "), std::string::npos);
    EXPECT_NE(text.find("# 00 - Cистемный пароль\nsystem 0"), std::string::npos);
    EXPECT_NE(text.find("# Линия 4: Меню замены - ночь\nsystem 524 "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "end\n");
    // Without the files, and in administrator mode, their lines are left out.
    EXPECT_EQ(Text(Sample(), false).find("voicefile"), std::string::npos);
    TSnapshot admin = Sample();
    admin.mode = kModeAdmin;
    const std::string adminText = Text(admin, false);
    EXPECT_EQ(adminText.find("\nsystem "), std::string::npos);
    EXPECT_EQ(LineOf(adminText, "mode"), "mode admin");
}

TEST_F(SnapshotFile, ReadingGivesBackWhatWasWritten)
{
    TSnapshot s = Sample();
    // What Take leaves out the writer does too: the admin snapshot's system values.
    TSnapshot read;
    TSnapshotError e;
    ASSERT_TRUE(layout.Read(Text(s), read, e)) << e.Message();
    EXPECT_EQ(read, s);
    EXPECT_EQ(read.files[20].sha256, std::string(64, 'c'));
    // A file written before snapshots recorded the voice files' hashes.
    std::string older = Text(s);
    older.replace(older.find(" sha256:"), 8 + 64, "");
    ASSERT_TRUE(layout.Read(older, read, e)) << e.Message();
    EXPECT_EQ(read, s);
    EXPECT_EQ(read.files[20].sha256, "");

    // Also from a file edited on another system: a byte order mark, CR LF.
    std::string crlf;
    for (char c : Text(s)) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    ASSERT_TRUE(layout.Read("\xEF\xBB\xBF" + crlf, read, e)) << e.Message();
    EXPECT_EQ(read, s);

    TSnapshot admin = layout.Take(kModeAdmin, "d", "t");
    ASSERT_TRUE(layout.Read(Text(admin), read, e)) << e.Message();
    EXPECT_EQ(read.params.count(0), 0u);
    EXPECT_EQ(read.params, admin.params);
    EXPECT_EQ(read.files.count(20), 1u);
    EXPECT_EQ(read.files.count(60), 0u);  // a service message needs system mode
}

TEST_F(SnapshotFile, TheReaderRefusesAnythingItDoesNotUnderstandAndNamesTheLine)
{
    const std::string good = Text(Sample());
    struct Case {
        const char* what;
        std::function<std::string(std::string)> change;
        std::string line;  // the line named: its text in the changed file
        const char* says;
    };
    auto replace = [](const std::string& from, const std::string& to) {
        return [from, to](std::string t) {
            const size_t at = t.find(from);
            EXPECT_NE(at, std::string::npos) << from;
            return t.replace(at, from.size(), to);
        };
    };
    const std::vector<Case> cases = {
        {"another program's file", [](std::string) { return std::string("[settings]\nport=1\n"); }, "[settings]", "это не снимок"},
        {"another format", replace("kvmanage-snapshot 1", "kvmanage-snapshot 2"), "kvmanage-snapshot 2", "формате 2"},
        {"an unknown line", replace("\nlist 220\n", "\nlist 220\nlsit 230\n"), "lsit 230", "неизвестная строка"},
        {"a repeated value", replace("\nparam 101 200\n", "\nparam 101 200\nparam 101 300\n"), "param 101 300", "повтор"},
        {"a number that is none", replace("\nsystem 12 500\n", "\nsystem 12 5O\n"), "system 12 5O", "не число"},
        {"a choice past its items", replace("\nsystem 10 ", "\nsystem 10 2\n#"), "system 10 2", "вне списка"},
        // Values of the right kind that the setting cannot hold: its
        // object's own limits.
        {"a number past its setting's range", replace("\nsystem 12 500\n", "\nsystem 12 99999\n"), "system 12 99999", "99999 вне допустимого (0-999)"},
        {"a negative number", replace("\nsystem 13 ", "\nsystem 13 -5\n#"), "system 13 -5", "-5 вне допустимого (0-24)"},
        {"a call code past 10", replace("\nparam 100 ", "\nparam 100 77\n#"), "param 100 77", "77 вне допустимого (0-10)"},
        {"a letter in a number to dial", replace("\nparam 101 200\n", "\nparam 101 2a0\n"), "param 101 2a0", "только цифры"},
        {"a star where none is allowed", replace("\nparam 101 200\n", "\nparam 101 2*0\n"), "param 101 2*0", "только цифры"},
        {"a number to dial too long", replace("\nparam 101 200\n", "\nparam 101 123456789\n"), "param 101 123456789", "длиннее 8"},
        {"a time of day past 23:59", replace("\nparam 111 ", "\nparam 111 2460\n#"), "param 111 2460", "вне допустимого"},
        {"minutes past 59", replace("\nparam 111 ", "\nparam 111 1260\n#"), "param 111 1260", "не время суток"},
        {"a check box past a byte", replace("\nparam 110 ", "\nparam 110 256\n#"), "param 110 256", "вне допустимого"},
        {"a system value as an ordinary one", replace("\nsystem 12 500\n", "\nparam 12 500\n"), "param 12 500", "системный"},
        {"an unknown parameter", replace("\nparam 101 200\n", "\nparam 101 200\nparam 105 1\n"), "param 105 1", "нет"},
        {"a CR inside a value", replace("\nparam 101 200\n", "\nparam 101 2\\x0D00\n"), "param 101 2\\x0D00", "управляющий"},
        {"a stray backslash", replace("\nparam 101 200\n", "\nparam 101 2\\00\n"), "param 101 2\\00", "\\"},
        {"a character the unit has not", replace("\nparam 101 200\n", "\nparam 101 Ω\n"), "param 101 Ω", "кодировке устройства"},
        {"a raw control character", replace("\nparam 101 200\n", "\nparam 101 2\t00\n"), "param 101 2\t00", "управляющий"},
        {"text that is not UTF-8", replace("\nparam 101 200\n", "\nparam 101 \xC0\xAF\n"), "param 101 \xC0\xAF", "не в UTF-8"},
        {"a mailbox without its period", replace("\nmailbox 999 600 0 0\n", "\nmailbox 999 600 0\n"), "mailbox 999 600 0", "mailbox"},
        {"a key that is no key", replace("\nmenu 20 key 3 ", "\nmenu 20 key 10 "), "menu 20 key 10 N205*", "клавиша"},
        {"a header out of its place", replace("\ndevice /dev/ttyUSB0\n", "\n"), "mode system", "device"},
        {"a hash that is no SHA-256", replace(" sha256:" + std::string(64, 'c'), " sha256:" + std::string(63, 'c')), "voicefile 20 hello.wav 16000 sha256:", "SHA-256"},
        {"a line after the end", [](std::string t) { return t + "param 101 300\n"; }, "param 101 300", "после \"end\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = c.change(good);
        const TSnapshotError e = Refusal(text);
        // The named line is the changed one (the last one, for a repeat).
        int expected = -1;
        for (size_t at = text.find(c.line); at != std::string::npos; at = text.find(c.line, at + 1))
            if (at == 0 || text[at - 1] == '\n')
                expected = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
        EXPECT_EQ(e.line, expected) << e.Message();
        EXPECT_NE(e.text.find(c.says), std::string::npos) << e.Message();
        EXPECT_EQ(e.Message().rfind("строка " + std::to_string(e.line) + ": ", 0), 0u);
    }

    // A file cut short, at a line or inside one, is not read whole.
    const std::string cut = good.substr(0, good.find("\n# ---- Почта"));
    const TSnapshotError truncated = Refusal(cut);
    EXPECT_NE(truncated.text.find("нет строки \"end\""), std::string::npos);
    EXPECT_EQ(truncated.line, static_cast<int>(std::count(cut.begin(), cut.end(), '\n')));  // its last line
    // A value missing from an otherwise whole file: named at its end.
    std::string missing = good;
    missing.erase(missing.find("param 101 200\n"), 14);
    const TSnapshotError e = Refusal(missing);
    EXPECT_NE(e.text.find("param 101"), std::string::npos) << e.Message();
    EXPECT_NE(e.text.find("Дневной номер оператора"), std::string::npos);
    EXPECT_EQ(e.line, LineNumber(missing, "end\n"));
    // An administrator's snapshot holds no system values.
    TSnapshot admin = Sample();
    admin.mode = kModeAdmin;
    std::string adminText = Text(admin);
    adminText.insert(adminText.find("\nend\n") + 1, "system 12 5\n");
    EXPECT_NE(Refusal(adminText).text.find("режима администратора"), std::string::npos);
    EXPECT_EQ(Refusal("").text, "файл пуст");
}

TEST_F(SnapshotFile, EscapesAndOrder)
{
    std::string v;
    for (const std::string& s : {std::string("a\\b"), std::string(" x "), std::string("\x01\x7F"), std::string("Пароль")}) {
        ASSERT_TRUE(UnescapeValue(EscapeValue(s), v)) << s;
        EXPECT_EQ(v, s);
    }
    EXPECT_EQ(EscapeValue(" a b "), "\\x20a b\\x20");
    EXPECT_FALSE(UnescapeValue("\\x41", v));  // only what the writer escapes
    EXPECT_FALSE(UnescapeValue("\\x2", v));
    EXPECT_FALSE(UnescapeValue("end\\", v));

    std::vector<std::string> entries = {"220", "1000", "201-210", "99", "205", "abc", ""};
    std::sort(entries.begin(), entries.end(), NaturalLess);
    EXPECT_EQ(entries, (std::vector<std::string>{"", "99", "201-210", "205", "220", "1000", "abc"}));
    // The same set gives the same file, whatever order the unit listed it in.
    TListDlg* list = catalogue.extensionList.get();
    list->items = {"220", "201-210"};
    const std::string one = Text(layout.Take(kModeAdmin, "d", "t"));
    list->items = {"201-210", "220"};
    EXPECT_EQ(Text(layout.Take(kModeAdmin, "d", "t")), one);
}

TEST_F(SnapshotFile, CompareNamesEachDifferenceAndTheOperationThatMendsIt)
{
    TSnapshot unit = Sample();
    TSnapshot file = Sample();
    EXPECT_TRUE(Compare(layout, unit, file).differences.empty());

    unit.firmware = 10204;
    file.params[111] = "830";
    file.params[10] = "1";
    unit.list = {"201-210", "201-210", "230"};
    file.list = {"201-210", "220", ""};
    file.menus[20].keys[3] = "-";
    file.menus[5].callCode = 0;
    unit.boxes = {{"999", 600, 0, 0}, {"500", 60, 0, 0}};
    file.boxes = {{"999", 900, 0, 0}, {"Иванов", 120, 0, 0}};
    file.files[20] = {"hi.wav", 8000, {}};
    const TComparison c = Compare(layout, unit, file);
    std::vector<std::string> lines;
    for (const TDifference& d : c.differences)
        lines.push_back(d.name + (*d.Operation() ? std::string(" ") + d.Operation() : "") + ": " +
                        ShownValue(d.onUnit, d.unitText) + " / " + ShownValue(d.inFile, d.fileText) +
                        (d.Writable() ? "" : " (ro)"));
    const std::vector<std::string> expected = {
        "Версия прошивки: \"1.2.4\" / \"1.2.3\" (ro)",
        "Добавочные номера:  ADD: нет / \"\"",
        "Добавочные номера: 201-210 REMOVE: \"201-210\" / нет",
        "Добавочные номера: 220 ADD: нет / \"220\"",
        "Добавочные номера: 230 REMOVE: \"230\" / нет",
        "Дневное: Действие на 3: \"N205*\" / \"-\"",
        "Понедельник, Начало: \"00:00\" / \"08:30\"",
        "Меню 05: Код вызова: \"0\" / \"не назначен\"",
        "Ящик 500 DELETE: \"01:00\" / нет",
        "Ящик 999: Размер EDIT: \"10:00\" / \"15:00\"",
        "Ящик Иванов CREATE: нет / \"02:00\"",
        "10 - Тип набора на абонентских линиях УАТС: \"Тональный\" / \"Импульсный\"",
        "Дневное: Файл: \"hello.wav (16000)\" / \"hi.wav (8000)\"",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(c.notCompared, 0);

    // An administrator's session cannot read the file's system values.
    TSnapshot admin = layout.Take(kModeAdmin, "d", "t");
    TSnapshot system = layout.Take(kModeSystem, "d", "t");
    system.params[12] = "150";
    const TComparison partial = Compare(layout, admin, system);
    EXPECT_TRUE(partial.differences.empty());
    EXPECT_EQ(partial.notCompared, 39 + 30 + 14);
}

}  // namespace
