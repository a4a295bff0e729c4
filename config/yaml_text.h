// Emitting a YAML document as text that loads back to the same document, every byte kept.
#pragma once

#include <yaml-cpp/yaml.h>

#include <string>

namespace yamltext {

// Same shapes, same scalar bytes, same explicit tags, entries in the same order.
bool same_document(const YAML::Node& a, const YAML::Node& b);

// The default emitter's text of `doc` when it loads back equal to `doc`; otherwise the same
// text with the bytes the emitter would mangle carried through. False when neither reads
// back equal (nothing usable in `text`).
bool emit_exact(const YAML::Node& doc, std::string& text);

}  // namespace yamltext
