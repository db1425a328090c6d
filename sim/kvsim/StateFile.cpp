#include "StateFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "Catalogue.h"
#include "Text.h"
#include "session/Cp1251.h"

namespace kvsim {
namespace {

constexpr const char* kHeader = "kvsim-state 1";
const char* kB64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A unit text (code page 1251) as one UTF-8 word of the file.
std::string Word(std::string_view cp1251) {
  std::string utf8 = kv::Cp1251ToUtf8(cp1251);
  std::string out;
  for (char c : utf8) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 || (b > 0x20 && b < 0x7F && b != '\\'))
      out += c;
    else
      out += Escape(std::string_view(&c, 1));
  }
  return out;
}

std::optional<std::string> Unword(std::string_view word) {
  auto raw = Unescape(word);
  if (!raw) return std::nullopt;
  return kv::Utf8ToCp1251(*raw);
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

void PutFile(std::ostringstream& out, const char* kind, int n, const VoiceFile& f) {
  if (f.Empty()) return;
  out << "file " << kind << ' ' << n << ' ' << Word(f.name) << ' ' << f.data.size() << ' '
      << (f.generated ? std::string("tone") : Base64(f.data)) << '\n';
}

}  // namespace

std::string Base64(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kB64[v >> 18], out += kB64[(v >> 12) & 63], out += kB64[(v >> 6) & 63], out += kB64[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kB64[v >> 18], out += kB64[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kB64[(v >> 6) & 63] : '=';
    out += '=';
  }
  if (out.empty()) out = "=";  // an empty file still needs a word
  return out;
}

std::optional<std::string> FromBase64(std::string_view text) {
  if (text == "=") return std::string();
  if (text.size() % 4) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned v = 0;
    int pad = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      const char* p = c == '=' ? nullptr : std::strchr(kB64, c);
      if (c == '=') {
        ++pad;
      } else if (!p || !*p || pad) {
        return std::nullopt;
      }
      v = (v << 6) | (p ? static_cast<unsigned>(p - kB64) : 0);
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 255);
    if (pad < 1) out += static_cast<char>(v & 255);
  }
  return out;
}

std::string StateFile::Serialize(const Unit& unit) {
  std::ostringstream out;
  out << kHeader << '\n';
  out << "clock-offset-ns " << unit.clock.Offset().count() << '\n';
  for (const auto& [code, value] : unit.params) {
    const ParamDef* def = FindParam(code);
    if (!def || def->kind == ParamKind::Version) continue;
    out << "param " << code;
    if (!value.empty()) out << ' ' << Word(value);
    out << '\n';
  }
  for (const auto& e : unit.List()) out << "list " << Word(e) << '\n';
  for (const auto& b : unit.Mailboxes()) out << "mailbox " << Word(b.owner) << ' ' << b.seconds << '\n';
  for (int n = 0; n < Unit::kMenus; ++n) {
    const VoiceMenu& m = unit.menus[static_cast<std::size_t>(n)];
    out << "menu " << n << ' ' << m.callCode;
    for (const auto& k : m.keys) out << ' ' << Word(k);
    out << '\n';
  }
  for (const auto& [code, f] : unit.slots) PutFile(out, "slot", code, f);
  for (int n = 0; n < Unit::kMenus; ++n) PutFile(out, "menu", n, unit.menus[static_cast<std::size_t>(n)].file);
  return out.str();
}

std::string StateFile::Parse(const std::string& text, Unit& unit) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return "not a kvsim state file (first line must be '" + std::string(kHeader) + "')";
  unit.MutableList().clear();
  unit.MutableBoxes().clear();
  for (auto& [code, f] : unit.slots) f.Clear();
  for (auto& m : unit.menus) m.file.Clear();

  int lineNo = 1;
  while (std::getline(in, line)) {
    ++lineNo;
    auto w = Split(line);
    if (w.empty() || w[0][0] == '#') continue;
    auto bad = [&](const char* why) { return "state line " + std::to_string(lineNo) + ": " + why; };
    const std::string& key = w[0];
    if (key == "clock-offset-ns" && w.size() == 2) {
      try {
        unit.clock.SetOffset(std::chrono::nanoseconds(std::stoll(w[1])));
      } catch (const std::exception&) {
        return bad("bad clock offset");
      }
    } else if (key == "param" && (w.size() == 2 || w.size() == 3)) {
      auto code = ParseDecimal(w[1], 4);
      const ParamDef* def = code ? FindParam(static_cast<int>(*code)) : nullptr;
      auto value = Unword(w.size() == 3 ? w[2] : "");
      if (!def || !value) return bad("unknown parameter");
      auto accepted = Accept(*def, *value);
      if (!accepted) return bad("value out of range");
      unit.params[def->code] = *accepted;
    } else if (key == "list" && w.size() == 2) {
      auto e = Unword(w[1]);
      if (!e) return bad("bad entry");
      unit.MutableList().push_back(*e);
    } else if (key == "mailbox" && w.size() == 3) {
      auto owner = Unword(w[1]);
      auto seconds = ParseDecimal(w[2], 9);
      if (!owner || !seconds) return bad("bad mailbox");
      unit.MutableBoxes().push_back({*owner, *seconds});
    } else if (key == "menu" && w.size() == 13) {
      auto n = ParseDecimal(w[1], 2);
      if (!n || *n >= Unit::kMenus || !Unit::ValidCallCode(w[2])) return bad("bad menu");
      VoiceMenu& m = unit.menus[static_cast<std::size_t>(*n)];
      m.callCode = static_cast<int>(*ParseDecimal(w[2], 2));
      for (std::size_t k = 0; k < 10; ++k) {
        auto action = Unword(w[3 + k]);
        if (!action || !Unit::ValidKeyAction(*action)) return bad("bad key action");
        m.keys[k] = *action;
      }
    } else if (key == "file" && w.size() == 6) {
      auto n = ParseDecimal(w[2], 2);
      VoiceFile* f = nullptr;
      if (n && w[1] == "slot" && IsSlot(static_cast<int>(*n))) f = &unit.slots[static_cast<int>(*n)];
      if (n && w[1] == "menu" && *n < Unit::kMenus) f = &unit.menus[static_cast<std::size_t>(*n)].file;
      auto name = Unword(w[3]);
      auto size = ParseDecimal(w[4], 9);
      if (!f || !name || name->empty() || !size) return bad("bad file");
      if (w[5] == "tone") {
        *f = FactoryFile(*name, static_cast<std::size_t>(*size));
      } else {
        auto data = FromBase64(w[5]);
        if (!data || data->size() != static_cast<std::size_t>(*size)) return bad("bad file data");
        *f = VoiceFile{*name, *data, false};
      }
    } else {
      return bad("not understood");
    }
  }
  return {};
}

std::string StateFile::Load(Unit& unit) const {
  if (::access(path_.c_str(), F_OK) != 0 && errno == ENOENT) return {};  // factory settings
  std::ifstream in(path_, std::ios::binary);
  if (!in) return "cannot read " + path_;
  std::ostringstream text;
  text << in.rdbuf();
  std::string error = Parse(text.str(), unit);
  return error.empty() ? error : path_ + ": " + error;
}

std::string StateFile::Save(const Unit& unit) const {
  std::string tmp = path_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << Serialize(unit);
    out.flush();
    if (!out) return "cannot write " + tmp;
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) return "cannot replace " + path_ + ": " + std::strerror(errno);
  return {};
}

}  // namespace kvsim
