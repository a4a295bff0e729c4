// Report counts, detail texts and the CSV and JSON forms.
#include "report/report.h"

#include <cstdio>
#include <cstring>

#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

std::string mark_change_text(const FileReport& r) {
  if (!r.mark_known) return {};
  // Translators: no byte-order mark, in the report's column beside "BOM" ("none -> BOM").
  const char* none = _("none");
  const char* before = r.mark_before ? "BOM" : none;
  if (r.mark_before == r.mark_after) return before;
  return std::string(before) + " -> " + (r.mark_after ? "BOM" : none);
}

std::string eol_change_text(const FileReport& r) {
  if (!r.eol_counted) return {};
  if (r.eol_before == r.eol_after) return eol_counts_text(r.eol_before);
  return eol_counts_text(r.eol_before) + " -> " + eol_counts_text(r.eol_after);
}

std::string offence_text(const Offence& offence) {
  if (offence.line == 0) return offence.what;
  return kestrum::strfmt(_("line %llu: %s"), static_cast<unsigned long long>(offence.line),
                         offence.what.c_str());
}

std::string detail_text(const FileReport& r) {
  std::string detail;
  if (r.offence) {
    detail = offence_text(*r.offence);
  } else if (r.stop) {
    detail = kestrum::strfmt(_("stops at byte %llu (line %llu, column %llu)"),
                             static_cast<unsigned long long>(r.stop->offset),
                             static_cast<unsigned long long>(r.stop->line),
                             static_cast<unsigned long long>(r.stop->column));
  } else if (r.error != 0) {
    detail = kestrum::strfmt(_("error: %s"), errno_text(r.error).c_str());
  }
  if (!r.note.empty()) {
    if (!detail.empty()) detail += "; ";
    detail += r.note;
  }
  if (!r.rule.empty()) {
    if (!detail.empty()) detail += "; ";
    detail += kestrum::strfmt(_("decided by %s"), r.rule.c_str());
  }
  return detail;
}

bool read_by_repair(const FileReport& r) {
  return (r.evidence == "undetected" || r.evidence == "ambiguous") && !r.source.empty() &&
         !outcome_is_unsettled(r.outcome);
}

std::string read_by_text(const FileReport& r) {
  // The evidence names are the report's: they stay in English.
  if (!read_by_repair(r)) return kestrum::strfmt(_("by %s"), r.evidence.c_str());
  return kestrum::strfmt(r.source == "UTF-8" ? _("by undoing its misreading (%s as a whole)")
                                             : _("by its lines that are not UTF-8 (%s as a whole)"),
                         r.evidence.c_str());
}

OutcomeCounts JobReport::counts() const {
  OutcomeCounts c{};
  for (const auto& f : files) ++c[static_cast<size_t>(f.outcome)];
  c[static_cast<size_t>(Outcome::search_failed)] += search_failures.size();
  return c;
}

size_t JobReport::failures() const {
  size_t n = search_failures.size();
  for (const auto& f : files) n += outcome_is_failure(f.outcome) ? 1 : 0;
  return n;
}

namespace {

void csv_field(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// The detail, and how a detected source was chosen.
std::string csv_detail(const FileReport& r) {
  std::string detail = detail_text(r);
  // A file detection left unsettled was read as nothing: its note says why.
  if (r.evidence.empty() || r.evidence == "chosen" || outcome_is_unsettled(r.outcome))
    return detail;
  if (!detail.empty()) detail += "; ";
  if (r.confidence >= 0 && !read_by_repair(r))
    detail += kestrum::strfmt(_("read as %s %s, confidence %d"), r.source.c_str(),
                              read_by_text(r).c_str(), r.confidence);
  else
    detail += kestrum::strfmt(_("read as %s %s"), r.source.c_str(), read_by_text(r).c_str());
  if (!r.detection_note.empty()) detail += "; " + r.detection_note;
  return detail;
}

// The detail with the line ends when they change or are mixed, and the mark when it changes.
std::string csv_detail_with_line_ends(const FileReport& r) {
  std::string detail = csv_detail(r);
  if (r.eol_counted && (r.eol_before != r.eol_after || r.eol_before.mixed())) {
    if (!detail.empty()) detail += "; ";
    detail += kestrum::strfmt(_("line ends %s"), eol_change_text(r).c_str());
  }
  if (r.mark_known && r.mark_before != r.mark_after) {
    if (!detail.empty()) detail += "; ";
    detail += kestrum::strfmt(_("mark %s"), mark_change_text(r).c_str());
  }
  return detail;
}

void json_counts(std::string& out, const char* key, const EolCounts& c) {
  out += kestrum::strfmt(
      ",\"%s\":{\"lf\":%llu,\"crlf\":%llu,\"cr\":%llu}", key, static_cast<unsigned long long>(c.lf),
      static_cast<unsigned long long>(c.crlf), static_cast<unsigned long long>(c.cr));
}

void csv_row(std::string& out, const FileReport& r) {
  csv_field(out, r.path);
  out += ',';
  out += outcome_name(r.outcome);
  out += ',';
  csv_field(out, r.source);
  out += ',';
  csv_field(out, r.target);
  out += ',';
  out += std::to_string(r.bytes);
  out += ',';
  csv_field(out, csv_detail_with_line_ends(r));
  out += "\r\n";
}

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
void json_string(std::string& out, std::string_view s) {
  out += '"';
  const std::string text = utf8_or_replacement(s);
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string hex_of(std::string_view s) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : s) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

void json_entry(std::string& out, const FileReport& r) {
  out += "{\"path\":";
  json_string(out, r.path);
  if (!utf8_check(r.path).valid) {
    out += ",\"path_hex\":\"" + hex_of(r.path) + "\"";
  }
  out += ",\"outcome\":\"" + std::string(outcome_name(r.outcome)) + "\",\"source\":";
  json_string(out, r.source);
  out += ",\"target\":";
  json_string(out, r.target);
  out += ",\"bytes\":" + std::to_string(r.bytes);
  if (r.error != 0) out += ",\"error\":" + std::to_string(r.error);
  if (r.stop) {
    out += kestrum::strfmt(",\"stop\":{\"offset\":%llu,\"line\":%llu,\"column\":%llu}",
                           static_cast<unsigned long long>(r.stop->offset),
                           static_cast<unsigned long long>(r.stop->line),
                           static_cast<unsigned long long>(r.stop->column));
  }
  out += ",\"detail\":";
  json_string(out, detail_text(r));
  if (!r.rule.empty()) {
    out += ",\"rule\":";
    json_string(out, r.rule);
  }
  if (!r.evidence.empty()) {
    out += ",\"evidence\":";
    json_string(out, r.evidence);
  }
  if (r.confidence >= 0) out += ",\"confidence\":" + std::to_string(r.confidence);
  if (!r.detection_note.empty()) {
    out += ",\"detection_note\":";
    json_string(out, r.detection_note);
  }
  if (!r.sample.empty()) {
    out += ",\"sample\":";
    json_string(out, r.sample);
  }
  if (r.eol_counted) {
    json_counts(out, "line_ends_before", r.eol_before);
    json_counts(out, "line_ends_after", r.eol_after);
  }
  if (r.mark_known) {
    out += r.mark_before ? ",\"mark_before\":true" : ",\"mark_before\":false";
    out += r.mark_after ? ",\"mark_after\":true" : ",\"mark_after\":false";
  }
  out += '}';
}

void json_list(std::string& out, const char* key, const std::vector<FileReport>& entries) {
  out += kestrum::strfmt(",\n\"%s\":[", key);
  for (size_t i = 0; i < entries.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    json_entry(out, entries[i]);
  }
  out += "]";
}

}  // namespace

std::string report_csv(const JobReport& report) {
  std::string out = "path,outcome,source,target,bytes,detail\r\n";
  for (const auto& f : report.files) csv_row(out, f);
  for (const auto& f : report.search_failures) csv_row(out, f);
  return out;
}

std::string report_json(const JobReport& report) {
  std::string out = "{\"input\":";
  json_string(out, report.input);
  out += ",\"output\":";
  json_string(out, report.output);
  out += ",\"source\":";
  json_string(out, report.source);
  out += ",\"target\":";
  json_string(out, report.target);
  out += report.stopped ? ",\"stopped\":true" : ",\"stopped\":false";
  out += ",\"counts\":{";
  const OutcomeCounts counts = report.counts();
  bool first = true;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    out += first ? "" : ",";
    first = false;
    // Appended piece by piece: GCC 12 sees a false overlap in a chain of string additions.
    out += '"';
    out += outcome_name(static_cast<Outcome>(i));
    out += "\":";
    out += std::to_string(counts[i]);
  }
  out += "}";
  if (!report.kept.run.empty()) {
    out += ",\"undo\":{\"run\":";
    json_string(out, report.kept.run);
    out += ",\"store\":";
    json_string(out, report.kept.dir);
    out += ",\"files\":" + std::to_string(report.kept.files);
    out += ",\"bytes\":" + std::to_string(report.kept.bytes) + "}";
  }
  if (!report.undone.empty()) {
    out += ",\"undone\":";
    json_string(out, report.undone);
  }
  json_list(out, "files", report.files);
  json_list(out, "search_failures", report.search_failures);
  out += "\n}\n";
  return out;
}
