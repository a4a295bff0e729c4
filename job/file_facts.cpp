// The facts a file's outcome is decided from: from its content held whole, or gathered in one
// pass of chunks from a file too big to hold.
#include <algorithm>

#include "job/file_convert.h"
#include "transcode/stream_convert.h"
#include "transcode/utf8.h"

namespace {

constexpr size_t kSampleBytes = 64 * 1024;
// Lines kept for the UTF-8 doubt: past this many characters above ASCII, or lines this long,
// valid UTF-8 is UTF-8 (the doubt weighs only text with few such characters).
constexpr size_t kDoubtChars = 100;
constexpr size_t kDoubtLineBytes = 16 * 1024;

// The lines holding bytes above 0x7F, gathered while they stay few.
struct HighLines {
  std::string lines;  // whole lines, each ending in '\n'
  std::string line;   // the line being read
  size_t chars = 0;   // UTF-8 lead bytes above ASCII kept so far
  bool too_many = false;

  void feed(std::string_view chunk) {
    while (!too_many && !chunk.empty()) {
      const size_t end = chunk.find('\n');
      line.append(chunk.substr(0, end));
      if (line.size() > kDoubtLineBytes) too_many = true;
      if (end == std::string_view::npos) return;
      end_line();
      chunk.remove_prefix(end + 1);
    }
  }
  void end_line() {
    size_t leads = 0;
    for (char c : line) leads += static_cast<unsigned char>(c) >= 0xC0 ? 1 : 0;
    if (leads > 0) {
      chars += leads;
      lines.append(line).push_back('\n');
    }
    too_many = too_many || chars > kDoubtChars;
    line.clear();
  }
};

}  // namespace

bool utf8_validity_needed(const RunEncodings& enc, bool conform, Outcome identity) {
  return conform || enc.source.form != UnicodeForm::utf8 || enc.target_is_utf8() ||
         outcome_is_unsettled(identity);
}

void whole_facts(std::string_view content, const RunEncodings& enc, bool utf8, FileFacts& facts) {
  facts.cls = classify_mark(content.substr(0, kMarkHead), enc);
  facts.head = facts.doubt = content.substr(facts.cls.mark_length);
  if (facts.cls.outcome == Outcome::marked) return;
  if (utf8) {
    facts.body = body_facts(facts.head);
    return;
  }
  facts.body.nul_offset = find_nul(facts.head, kBinaryScanBytes);
  facts.body.non_ascii = !is_ascii(facts.head);
  facts.utf8_known = !facts.body.non_ascii;
}

int gather_facts(const std::string& source, const RunEncodings& enc, bool utf8, size_t chunk_size,
                 FileFacts& out) {
  Utf8Scanner scanner;
  HighLines high;
  uint64_t body_pos = 0;
  bool first = true;
  const int err = read_in_chunks(
      source, chunk_size,
      [&](std::string_view chunk) {
        if (first) {
          first = false;
          out.cls = classify_mark(chunk.substr(0, kMarkHead), enc);
          if (out.cls.outcome == Outcome::marked) return false;
          chunk.remove_prefix(std::min(out.cls.mark_length, chunk.size()));
        }
        if (out.kept_head.size() < kSampleBytes)
          out.kept_head.append(chunk.substr(0, kSampleBytes - out.kept_head.size()));
        if (body_pos < kBinaryScanBytes && out.body.nul_offset == std::string_view::npos) {
          const size_t at = find_nul(chunk, static_cast<size_t>(kBinaryScanBytes - body_pos));
          if (at != std::string_view::npos)
            out.body.nul_offset = static_cast<size_t>(body_pos + at);
        }
        body_pos += chunk.size();
        if (!utf8) {
          out.body.non_ascii = out.body.non_ascii || !is_ascii(chunk);
          return !out.body.non_ascii || body_pos < kBinaryScanBytes;
        }
        scanner.feed(chunk);
        if (scanner.valid_so_far()) high.feed(chunk);
        // Invalid UTF-8 means non-ASCII too: past the NUL window nothing is left to learn.
        // Important: not finish(), which takes a sequence cut by this chunk's end for an error.
        return scanner.valid_so_far() || body_pos < kBinaryScanBytes;
      },
      kBinaryScanBytes + kMarkHead);  // most files need no more than their first chunk
  out.head = out.kept_head;
  if (!utf8) {
    out.utf8_known = !out.body.non_ascii;
    out.doubt_known = false;
    return err;
  }
  if (!high.too_many && !high.line.empty()) high.end_line();
  const Utf8Check check = scanner.finish();
  out.body.utf8_valid = check.valid;
  out.body.non_ascii = !check.valid || check.non_ascii;
  out.kept_doubt = std::move(high.lines);
  out.doubt_known = !high.too_many;
  out.doubt = out.kept_doubt;
  return err;
}
