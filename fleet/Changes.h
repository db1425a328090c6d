// What changed on a unit between two of its snapshots, in the screens'
// words, and the passwords a snapshot carries.
//
// The compare is the backups' own (the one the window's table of
// differences and "kvbackup compare" show): its names are the screens'
// names, and it leaves out what a unit changes by itself (when the snapshot
// was taken, the device it came through). One line per difference:
//
//   Дневной номер оператора: 200 → 300
//   Меню 2, клавиша 3: N104 → N105
//   Дневное, клавиша 0: ... (a greeting by its screen's name)
//   Ящик Иванов: размер 05:00 → 10:00
//   Ящик Петров: добавлен (05:00)
//   Добавочные номера: 230: удалён
//   Пароль администратора: изменён          (a password's value is never shown)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/Backup.h"
#include "backup/Snapshot.h"

namespace kv {

// The change of one difference of Compare(layout, before, after).
std::string ChangeLine(const TSnapshotLayout& layout, const TDifference& d);

// Every change from `before` to `after`, in the snapshot file's order; a
// change of the snapshot's mode (administrator or system) comes first.
std::vector<std::string> ChangeLines(const TSnapshotLayout& layout, const TSnapshot& before, const TSnapshot& after);

// The passwords of a snapshot: its values of the password parameters
// (the administrator's, and in system mode the system password), by code.
using TPasswords = std::map<int32_t, std::string>;

TPasswords PasswordsOf(const TSnapshotLayout& layout, const TSnapshot& snapshot);
// The snapshot with every password parameter it holds emptied: what a
// history keeps. It still reads back as a snapshot.
TSnapshot WithoutPasswords(const TSnapshotLayout& layout, const TSnapshot& snapshot);
// Puts the passwords into the snapshot's parameters it holds.
void PutPasswords(TSnapshot& snapshot, const TPasswords& passwords);

// "1 изменение", "2 изменения", "5 изменений".
std::string ChangeCount(size_t n);

}  // namespace kv
