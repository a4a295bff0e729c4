// The encoding catalogue built from the converter's own list of names.
#include "util/encoding_catalogue.h"

#include "app/app_state.h"

int add_encoding_group(unsigned int, const char* const*, void*) { return 0; }
void build_encoding_catalogue(AppState& app) { app.encoding_items += '\0'; }

int32_t AppState::index_of(std::string_view name) const {
  for (size_t i = 0; i < encodings.size(); ++i)
    if (encodings[i] == name) return static_cast<int32_t>(i);
  return static_cast<int32_t>(encodings.size());
}
