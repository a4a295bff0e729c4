// What decoded text looks like in each script family: per-character weights and letter sets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace detect {

// The script family an encoding is meant for; the weights of its characters follow from it.
enum class Family : uint8_t {
  gb,
  big5,
  japanese,
  korean,
  cyrillic,
  latin,
  greek,
  hebrew,
  arabic,
  thai,
  vietnamese,
  unicode,
};

Family family_of(std::string_view encoding);  // canonical glibc name

// Non-ASCII Latin letters seen, lower-cased, for the language check (see latin_misfits).
using LetterCounts = std::array<float, 64>;

// Additive evidence of one candidate over some text: sums may be taken over files.
struct Tally {
  double points = 0;  // sum of the character weights
  double chars = 0;   // non-ASCII characters weighed
  LetterCounts letters{};

  void add(const Tally& other, double scale = 1.0);
};

// Weighs every non-ASCII character of `text` as text of family `f`; ASCII is context only.
void score_text(Family f, std::u32string_view text, Tally& tally);

// Latin letters that no single language's alphabet explains: the count of letters outside the
// best-fitting alphabet. Text that mixes ą with ř reads as a misdecoding.
double latin_misfits(const LetterCounts& letters);

// The total a candidate gets: weights, less a penalty for letters no language explains.
double total_points(Family f, const Tally& tally);

}  // namespace detect
