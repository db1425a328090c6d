// What the unit holds: its numbered parameters, the extension list, the
// mailboxes, the voice menus, the service-message slots and its clock. All
// texts are kept as the unit sends them (code page 1251).
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

// A recorded voice file in a slot; an empty name means the slot is empty.
struct VoiceFile {
  std::string name;
  std::string data;        // the file's bytes; its size is what the unit reports
  bool generated = false;  // a factory recording (a tone), not stored in the state file

  bool Empty() const { return name.empty(); }
  void Clear() { *this = VoiceFile{}; }
};

// A tone of `size` bytes (8000 samples per second, 8 bit), the unit's factory recordings.
std::string FactoryTone(std::size_t size);
VoiceFile FactoryFile(std::string name, std::size_t size);

struct VoiceMenu {
  int callCode = 0;                    // 0 none, 1..9 key, 10 key 0
  std::array<std::string, 10> keys{};  // action per key in the unit's notation
  VoiceFile file;
};

struct Mailbox {
  std::string owner;
  long seconds = 0;
};

enum class Outcome { Ok, Error, NoFreeMem, NoFreeBox, NotFound };

// The unit's clock: a civil date and time DDMMYYhhmmss that runs from the
// moment it was set.
class UnitClock {
 public:
  UnitClock();  // starts at the host's local time
  std::string Text() const;
  // False (and nothing changes) unless `text` is 12 digits of a real date and time.
  bool Set(std::string_view text);
  std::chrono::nanoseconds Offset() const { return offset_; }
  void SetOffset(std::chrono::nanoseconds offset) { offset_ = offset; }

 private:
  // Unit time = system clock + offset, read as a civil time.
  std::chrono::nanoseconds offset_{};
};

struct Limits {
  std::size_t listEntries = 100;  // extension list entries
  std::size_t mailboxes = 20;
  long mailMemory = 7200;  // seconds of recording for all mailboxes
  long maxBoxSeconds = 7200;
};

class Unit {
 public:
  static constexpr int kMenus = 40;  // voice menus 0..39 (20, 21, 22 are the greetings)

  explicit Unit(Limits limits = {});

  // Called after every change (the state file is saved there).
  std::function<void()> onChange;

  // Numbered parameters, values as the unit answers them.
  std::map<int, std::string> params;

  // Extension list.
  const std::vector<std::string>& List() const { return list_; }
  Outcome ListAdd(std::string_view entry);
  Outcome ListRemove(std::string_view entry);

  // Mailboxes.
  const std::vector<Mailbox>& Mailboxes() const { return boxes_; }
  long FreeSeconds() const;
  bool HasFreeBox() const { return boxes_.size() < limits_.mailboxes; }
  const Mailbox* FindBox(std::string_view owner) const;
  // An owner the unit accepts for a new mailbox.
  bool OwnerAcceptable(std::string_view owner) const;
  Outcome CreateBox(std::string_view owner, std::string_view seconds);
  Outcome EditBox(std::string_view owner, std::string_view seconds);
  Outcome DeleteBox(std::string_view owner);

  // Voice menus and service-message slots.
  std::array<VoiceMenu, kMenus> menus;
  std::map<int, VoiceFile> slots;  // 60..73
  static bool ValidCallCode(std::string_view text);
  static bool ValidKeyAction(std::string_view text);

  UnitClock clock;

  // State file support: replace everything with what a loader read.
  std::vector<std::string>& MutableList() { return list_; }
  std::vector<Mailbox>& MutableBoxes() { return boxes_; }
  const Limits& GetLimits() const { return limits_; }

  void Changed() {
    if (onChange) onChange();
  }

 private:
  std::optional<long> AcceptSize(std::string_view text) const;

  Limits limits_;
  std::vector<std::string> list_;
  std::vector<Mailbox> boxes_;
};

}  // namespace kvsim
