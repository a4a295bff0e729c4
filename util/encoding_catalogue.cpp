// The encoding catalogue built from the converter's own list of names.
#include "util/encoding_catalogue.h"

#include <iconv.h>

#include <cstring>

#include "util/encoding_sources.h"
#include "util/i18n.h"
#include "util/log_buffer.h"

namespace {

constexpr std::string_view kWithBom = "with BOM";

// Offered when the converter's names cannot be listed, so that the tool stays usable.
EncodingGroups minimal_groups() {
  return {{"BIG5"},       {"CP1252"},    {"EUC-JP"},   {"EUC-KR"},   {"GB18030"},      {"GBK"},
          {"ISO-8859-1"}, {"SHIFT_JIS"}, {"UTF-16BE"}, {"UTF-16LE"}, {"UTF-8", "UTF8"}};
}

void add_groups(EncodingList& encodings, const EncodingGroups& groups) {
  std::vector<const char*> names;
  for (const auto& group : groups) {
    names.clear();
    for (const auto& n : group) names.push_back(n.c_str());
    add_encoding_group(static_cast<unsigned int>(names.size()), names.data(), &encodings);
  }
}

}  // namespace

EncodingEntry::EncodingEntry(std::string_view entry_name) : name(entry_name), charset(entry_name) {
  const size_t p = entry_name.find(kWithBom);
  if (p == std::string_view::npos || p == 0) return;
  charset = std::string(entry_name.substr(0, p - 1));
  utf8_mark = charset == "UTF-8";
}

int add_encoding_group(unsigned int count, const char* const* names, void* data) {
  EncodingList& encodings = *static_cast<EncodingList*>(data);
  for (unsigned int i = 0; i < count; ++i) {
    encodings.emplace_back(names[i]);
    if (std::strcmp(names[i], "UTF-8") == 0) encodings.emplace_back(kUtf8WithBom);
  }
  return 0;
}

void build_encoding_catalogue(EncodingList& encodings, LogBuffer& log) {
  encodings.clear();
#if defined(_LIBICONV_VERSION)
  iconvlist(add_encoding_group, &encodings);
  if (encodings.empty()) {
    log.append("%s", _("The converter lists no encodings, offering a minimal list"));
    add_groups(encodings, minimal_groups());
  }
#else
  platform::Result<EncodingGroups> listed = list_encoding_groups();
  if (!listed)
    log.append(_("Cannot list the converter's encodings (%s), offering a minimal list"),
               listed.error().context.c_str());
  EncodingGroups groups = listed ? std::move(*listed) : minimal_groups();
  sort_groups(groups);
  add_groups(encodings, groups);
#endif
}

int32_t index_of(const EncodingList& encodings, std::string_view name) {
  for (size_t i = 0; i < encodings.size(); ++i)
    if (encodings[i].name == name) return static_cast<int32_t>(i);
  return static_cast<int32_t>(encodings.size());
}

const EncodingEntry* entry_at(const EncodingList& encodings, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= encodings.size()) return nullptr;
  return &encodings[static_cast<size_t>(index)];
}
