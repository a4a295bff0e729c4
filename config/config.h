// Loading and saving "ouzel.yml": the settings record and its YAML document.
#pragma once

#include <string>

inline constexpr const char* kDefaultOutputDir = "/tmp/ouzel-out";

// Text of the default settings document; also writes it to `path` (failures ignored).
std::string make_default_config(const std::string& path);
