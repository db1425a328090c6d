#include "Transcript.h"

#include "Text.h"

namespace kvsim {

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

bool Transcript::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) return false;
  std::fputs("# kvsim transcript\n", file_);
  std::fflush(file_);
  return true;
}

void Transcript::Note(std::string_view text) {
  if (!file_) return;
  std::fprintf(file_, "# %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(file_);
}

void Transcript::Record(char dir, std::string_view bytes) {
  if (!file_ || bytes.empty()) return;
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  std::string esc = Escape(bytes);
  std::fprintf(file_, "%c %.3f %s\n", dir, ms, esc.c_str());
  std::fflush(file_);
}

}  // namespace kvsim
