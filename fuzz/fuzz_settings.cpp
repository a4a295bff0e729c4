// Fuzz target: any settings file loads without a crash into settings that keep their
// invariants; a save then a load gives the same record; a file that could not be read is
// kept byte for byte, and a failed save leaves the file as it was.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "config/config.h"
#include "util/log_buffer.h"

namespace {

const EncodingList kEncodings = {"BIG5", "GBK", "UTF-8", "UTF-8 with BOM", "UTF8", "UTF-16LE"};

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

char g_dir[] = "/tmp/ouzel-fuzz-settings-XXXXXX";

// Whatever a run left in the work directory, and the directory, at exit.
void remove_work_dir() {
  const std::string dir = g_dir;
  for (const char* name : {"/ouzel.yml", "/ouzel.yml.bad"}) ::unlink((dir + name).c_str());
  ::rmdir(g_dir);
}

const std::string& work_dir() {
  static const std::string dir = [] {
    require(::mkdtemp(g_dir) != nullptr, "mkdtemp");
    std::atexit(remove_work_dir);
    return std::string(g_dir);
  }();
  return dir;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool last_line_has(LogBuffer& log, const char* text) {
  return !log.lines.empty() && log.lines.back().find(text) != std::string::npos;
}

void check_invariants(const ConvertConfig& c) {
  const auto names = static_cast<int32_t>(kEncodings.size());
  require(!c.filters.empty(), "no filters");
  for (const auto& f : c.filters) require(!f.empty(), "an empty filter");
  require(c.filter_index >= 0 && c.filter_index < static_cast<int32_t>(c.filters.size()),
          "filter index");
  require(c.from_index >= 0 && c.from_index <= names, "from index");
  require(c.to_index >= 0 && c.to_index <= names, "to index");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = work_dir() + "/ouzel.yml";
  const std::string bad = path + ".bad";
  ::unlink(bad.c_str());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  ConvertConfig a;
  LogBuffer log_a;
  load_config(a, kEncodings, log_a, path);
  check_invariants(a);
  const bool unreadable = !a.unreadable.empty();
  save_config(a, kEncodings, log_a);
  if (!last_line_has(log_a, "success")) {
    require(read_all(path) == text, "a failed save changed the file");
    return 0;
  }
  if (unreadable) require(read_all(bad) == text, "the unreadable file was not kept");

  ConvertConfig b;
  LogBuffer log_b;
  load_config(b, kEncodings, log_b, path);
  require(log_b.lines.empty(), "the saved file does not load cleanly");
  require(b.input == a.input && b.output == a.output, "paths differ after a round trip");
  require(b.filters == a.filters && b.filter_index == a.filter_index, "filters differ");
  require(b.from_index == a.from_index && b.to_index == a.to_index, "encodings differ");
  return 0;
}
