// Double-encoded text: UTF-8 that was read through a legacy encoding and written out as UTF-8
// again ("é" stored as "Ã©"), found by undoing the misreading exactly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace repair {

// The legacy encodings a misreading is looked for through, most common first.
const std::vector<std::string>& misreading_encodings();

struct DoubleEncoding {
  std::vector<std::string> chain;  // the misreadings in the order they happened
  std::string repaired;            // the text with every misreading undone (UTF-8)
};

// "UTF-8 read as CP1252", "UTF-8 read as CP1252, twice", "UTF-8 read as GBK, then as CP1252".
std::string chain_text(const std::vector<std::string>& chain);

// The chain (at most two misreadings) whose undoing is exact for all of `utf8`, leaves strict
// UTF-8 holding non-ASCII text and reads better than `utf8`; an empty chain when none does.
// `utf8` must be strict UTF-8.
DoubleEncoding find_double_encoding(std::string_view utf8);

// Undoes `chain` on `utf8` (the last misreading first); false when it is not exact.
bool undo_chain(std::string_view utf8, const std::vector<std::string>& chain, std::string& out);

// Undoes a chain on text arriving in chunks; a character cut by a chunk's end, at any step of
// the chain, is carried into the next.
class ChainUndo {
 public:
  explicit ChainUndo(std::vector<std::string> chain);
  // Appends what `chunk` undoes to; false once an undoing is not exact.
  bool feed(std::string_view chunk, std::string& out);
  // True when nothing was left cut at the end.
  bool finish() const;

 private:
  std::vector<std::string> chain_;
  std::vector<std::string> carry_;  // per step, the last misreading's first
  std::string step_in_, step_out_;
};

}  // namespace repair
