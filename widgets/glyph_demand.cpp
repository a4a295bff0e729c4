// Collects the code points the window draws; each is queued once.
#include "widgets/glyph_demand.h"

#include <imgui_internal.h>

#include <bitset>

namespace glyph_demand {
namespace {

// ImWchar is 16 bits wide in this build: the library draws nothing beyond the BMP.
constexpr unsigned kCodePoints = 0x10000;

struct Demand {
  std::bitset<kCodePoints> seen;
  std::vector<ImWchar> queued;
};
Demand demand;

void add(unsigned c) {
  if (c < 0x80 || c >= kCodePoints || demand.seen.test(c)) return;
  demand.seen.set(c);
  demand.queued.push_back(static_cast<ImWchar>(c));
}

}  // namespace

void note(std::string_view utf8) {
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {  // the common case, without a decode call
      ++p;
      continue;
    }
    unsigned int c = 0;
    const int used = ImTextCharFromUtf8(&c, p, end);
    p += used > 0 ? used : 1;
    add(c);
  }
}

void note_chars(const ImWchar* chars, int count) {
  for (int i = 0; i < count; ++i) add(chars[i]);
}

bool pending() { return !demand.queued.empty(); }

std::vector<ImWchar> take() {
  std::vector<ImWchar> out;
  out.swap(demand.queued);
  return out;
}

void reset() {
  demand.seen.reset();
  demand.queued.clear();
}

}  // namespace glyph_demand
