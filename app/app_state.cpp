// AppState construction in its fixed order, and the derived combo items.
#include "app/app_state.h"

AppState::AppState(no_config_t) {
  build_encoding_catalogue(*this);
  worker_idle.store(true);
}

AppState::AppState() : AppState(no_config) {
  load_config("ouzel.yml");
  build_filter_items();
}

AppState::~AppState() { stop_worker(); }

void AppState::build_filter_items() {
  filter_items.clear();
  for (const auto& f : filters) {
    filter_items += f;
    filter_items += '\0';
  }
  filter_items += '\0';
}
