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

namespace {

const EncodingList kEncodings = {"BIG5", "GBK", "UTF-8", "UTF-8 with BOM", "UTF8", "UTF-16LE"};

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

std::string g_dir;

// Whatever a run left in the work directory, and the directory, at exit.
void remove_work_dir() {
  for (const char* name : {"/ouzel.yml", "/ouzel.yml.bad"}) ::unlink((g_dir + name).c_str());
  ::rmdir(g_dir.c_str());
}

// Under $TMPDIR (a memory file system such as /dev/shm makes the target several times faster).
const std::string& work_dir() {
  if (g_dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/ouzel-fuzz-settings-XXXXXX";
    require(::mkdtemp(tmpl.data()) != nullptr, "mkdtemp");
    g_dir = tmpl;
    std::atexit(remove_work_dir);
  }
  return g_dir;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
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
  load_config(a, kEncodings, path);
  check_invariants(a);
  const bool unreadable = !a.unreadable.empty();
  if (!save_config(a, kEncodings)) {
    require(read_all(path) == text, "a failed save changed the file");
    return 0;
  }
  if (unreadable) require(read_all(bad) == text, "the unreadable file was not kept");

  ConvertConfig b;
  require(load_config(b, kEncodings, path).empty(), "the saved file does not load cleanly");
  require(b.input == a.input && b.output == a.output, "paths differ after a round trip");
  require(b.filters == a.filters && b.filter_index == a.filter_index, "filters differ");
  require(b.from_index == a.from_index && b.to_index == a.to_index, "encodings differ");
  return 0;
}
