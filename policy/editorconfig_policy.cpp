// Mapping .editorconfig properties onto the policy of a file.
#include "policy/editorconfig_policy.h"

#include <memory>

namespace {

void add_label(std::string& label, const std::string& name, const std::string& value) {
  label += label.empty() ? ".editorconfig: " : ", ";
  label += name + "=" + value;
}

}  // namespace

PolicyPart editorconfig_part(const platform::EditorconfigLookup& lookup) {
  PolicyPart part;
  if (!lookup.error.empty()) {
    part.error = lookup.error;
    return part;
  }
  const std::string charset = lookup.value("charset");
  if (charset == "latin1") {
    part.to = EncodingEntry("ISO-8859-1");
  } else if (charset == "utf-8" || charset == "utf-8-bom") {
    part.to = EncodingEntry("UTF-8");
    part.bom = charset == "utf-8" ? BomMode::remove : BomMode::add;
  } else if (charset == "utf-16be" || charset == "utf-16le") {
    // Important: .editorconfig says nothing of a UTF-16 mark; keep leaves a marked file
    // marked and writes none where the source had none, so a check passes either.
    part.to = EncodingEntry(charset == "utf-16be" ? "UTF-16BE" : "UTF-16LE");
    part.bom = BomMode::keep;
  }
  part.source = ".editorconfig";
  if (!part.to.empty()) {
    add_label(part.label, "charset", charset);
    part.to_text = "charset=" + charset;
  }
  const std::string eol = lookup.value("end_of_line");
  if (eol == "lf") part.eol = EolMode::lf;
  if (eol == "crlf") part.eol = EolMode::crlf;
  if (eol == "cr") part.eol = EolMode::cr;
  if (part.eol) {
    add_label(part.label, "end_of_line", eol);
    part.eol_text = "end_of_line=" + eol;
  }
  return part;
}

PolicySource editorconfig_source() {
  auto reader = std::make_shared<platform::EditorconfigReader>();
  return [reader](std::string_view, const std::string& full_path) {
    return editorconfig_part(reader->lookup(full_path));
  };
}
