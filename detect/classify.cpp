// Classification rules: marked, binary, already UTF-8, ASCII only, converted.
#include "detect/classify.h"

#include "detect/detect.h"
#include "transcode/utf8.h"

namespace {

// Whether the source reads a mark of this form as its own (and drops it).
bool own_mark(UnicodeForm source, UnicodeForm mark) {
  if (source == mark) return true;
  // A self-marking UTF-16 or UTF-32 reads either byte order from its mark.
  if (source == UnicodeForm::utf16)
    return mark == UnicodeForm::utf16le || mark == UnicodeForm::utf16be;
  if (source == UnicodeForm::utf32)
    return mark == UnicodeForm::utf32le || mark == UnicodeForm::utf32be;
  return false;
}

bool self_marking(UnicodeForm f) { return f == UnicodeForm::utf16 || f == UnicodeForm::utf32; }

}  // namespace

RunEncodings RunEncodings::resolve(const EncodingEntry& source, const EncodingEntry& target) {
  RunEncodings e;
  e.source_name = source.name;
  e.target_name = target.name;
  e.source_charset = source.charset;
  e.target_charset = target.charset;
  e.source = charset_traits(source.charset);
  e.target = charset_traits(target.charset);
  e.target_mark = target.utf8_mark;
  e.source_keeps_ascii = detect::keeps_ascii(source.charset);
  return e;
}

BodyFacts body_facts(std::string_view body) {
  BodyFacts f;
  f.nul_offset = find_nul(body, kBinaryScanBytes);
  const Utf8Check c = utf8_check(body);
  f.utf8_valid = c.valid;
  f.non_ascii = c.valid ? c.non_ascii : true;
  return f;
}

Classification classify_mark(std::string_view head, const RunEncodings& enc) {
  Classification c;
  const MarkInfo mark = mark_at_start(head);
  if (mark.form == UnicodeForm::none) return c;
  if (own_mark(enc.source.form, mark.form)) {
    c.own_mark = true;
    // Important: a mark repeated (marked text marked again by some tool) is one mark; a copy
    // left would start the text with U+FEFF, which reads as a mark again.
    size_t copies = 1;
    const std::string_view one = head.substr(0, mark.length);
    while (head.substr(copies * mark.length, mark.length) == one) ++copies;
    // Important: the converter of a self-marking form needs one mark to know the byte
    // order; every other form has the mark dropped, and only the target's own policy
    // decides whether the output has one.
    c.mark_length = (self_marking(enc.source.form) ? copies - 1 : copies) * mark.length;
    return c;
  }
  c.outcome = Outcome::marked;
  c.foreign_mark = mark.form;
  return c;
}

namespace {

bool wide_form(UnicodeForm f) { return f != UnicodeForm::none && f != UnicodeForm::utf8; }

}  // namespace

Outcome classify_body(const BodyFacts& facts, const RunEncodings& enc) {
  // Important: a NUL byte is a NUL character in every source but UTF-16 and UTF-32, the ones
  // that change ASCII (SHIFT_JIS, UTF-7, ISO-2022) included.
  if (!wide_form(enc.source.form) && facts.nul_offset != std::string_view::npos)
    return Outcome::binary;
  if (enc.target_is_utf8() && enc.source.form != UnicodeForm::utf8 && facts.utf8_valid &&
      facts.non_ascii)
    return Outcome::already_utf8;
  if (!facts.non_ascii && enc.ascii_passthrough()) return Outcome::ascii;
  return Outcome::converted;
}

Classification classify(std::string_view content, const RunEncodings& enc) {
  Classification c = classify_mark(content.substr(0, kMarkHead), enc);
  if (c.outcome == Outcome::marked) return c;
  const std::string_view body = content.substr(c.mark_length);
  const BodyFacts facts = body_facts(body);
  c.outcome = classify_body(facts, enc);
  if (c.outcome == Outcome::binary) c.nul_offset = c.mark_length + facts.nul_offset;
  return c;
}

bool utf8_text_for_legacy(const RunEncodings& enc, bool conform, const BodyFacts& facts,
                          bool unmarked) {
  if (conform || enc.source.form != UnicodeForm::none || enc.target_is_utf8() ||
      !enc.source.ascii_compatible || !unmarked)
    return false;
  return facts.utf8_valid && facts.non_ascii && facts.nul_offset == std::string_view::npos;
}

bool utf8_text_for_wide(const RunEncodings& enc, bool conform, const BodyFacts& facts,
                        bool own_mark) {
  return wide_form(enc.source.form) && !conform && !own_mark &&
         facts.nul_offset == std::string_view::npos && facts.utf8_valid;
}
