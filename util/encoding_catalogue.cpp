// The encoding catalogue built from the converter's own list of names.
#include "util/encoding_catalogue.h"

#include <iconv.h>

#include <cstring>

#include "app/app_state.h"
#include "util/encoding_sources.h"

namespace {

// Offered when the converter's names cannot be listed, so that the tool stays usable.
EncodingGroups minimal_groups() {
  return {{"BIG5"},       {"CP1252"},   {"EUC-JP"},   {"EUC-KR"},   {"GB18030"},
          {"GBK"},        {"ISO-8859-1"}, {"SHIFT_JIS"}, {"UTF-16BE"}, {"UTF-16LE"},
          {"UTF-8", "UTF8"}};
}

void add_groups(AppState& app, const EncodingGroups& groups) {
  std::vector<const char*> names;
  for (const auto& group : groups) {
    names.clear();
    for (const auto& n : group) names.push_back(n.c_str());
    add_encoding_group(static_cast<unsigned int>(names.size()), names.data(), &app);
  }
}

}  // namespace

int add_encoding_group(unsigned int count, const char* const* names, void* data) {
  AppState& app = *static_cast<AppState*>(data);
  for (unsigned int i = 0; i < count; ++i) {
    const size_t length = std::strlen(names[i]);
    app.encodings.emplace_back(names[i], length);
    app.encoding_items.append(names[i], length + 1);  // the name and its NUL
    if (std::strcmp(names[i], "UTF-8") == 0) {
      app.encodings.emplace_back(kUtf8WithBom);
      app.encoding_items.append(kUtf8WithBom, std::strlen(kUtf8WithBom) + 1);
    }
  }
  return 0;
}

void build_encoding_catalogue(AppState& app) {
  app.encodings.clear();
  app.encoding_items.clear();
#if defined(_LIBICONV_VERSION)
  iconvlist(add_encoding_group, &app);
  if (app.encodings.empty()) {
    app.log.append("%s", "The converter lists no encodings, offering a minimal list");
    add_groups(app, minimal_groups());
  }
#else
  EncodingGroups groups;
  std::string why;
  if (!list_encoding_groups(groups, why)) {
    app.log.append("Cannot list the converter's encodings (%s), offering a minimal list",
                   why.c_str());
    groups = minimal_groups();
  }
  sort_groups(groups);
  add_groups(app, groups);
#endif
  app.encoding_items += '\0';
}

int32_t AppState::index_of(std::string_view name) const {
  for (size_t i = 0; i < encodings.size(); ++i)
    if (encodings[i] == name) return static_cast<int32_t>(i);
  return static_cast<int32_t>(encodings.size());
}
