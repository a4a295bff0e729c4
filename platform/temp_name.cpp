// Names of this tool's temporary files.
#include "platform/temp_name.h"

#include <climits>
#include <random>

namespace platform {
namespace {

constexpr std::string_view kTag = ".ouzel-";
constexpr std::string_view kStagingTag = ".ouzel-new-";
constexpr size_t kSuffix = 6;
constexpr std::string_view kChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string dir_part(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string name_part(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

std::string tagged_template(const std::string& dir, const std::string& name, std::string_view tag) {
  const size_t extra = 1 + tag.size() + kSuffix;
  std::string cut = name;
  if (cut.size() > NAME_MAX - extra) cut.resize(NAME_MAX - extra);
  std::string t = dir;
  t += '.';
  t += cut;
  t += tag;
  t.append(kSuffix, 'X');
  return t;
}

bool is_tagged(std::string_view name, std::string_view tag) {
  if (name.size() < 1 + 1 + tag.size() + kSuffix || name.front() != '.') return false;
  const std::string_view suffix = name.substr(name.size() - kSuffix);
  for (char c : suffix)
    if (!is_alnum(c)) return false;
  return name.substr(name.size() - kSuffix - tag.size(), tag.size()) == tag;
}

}  // namespace

std::string temp_template(const std::string& dir, const std::string& name) {
  return tagged_template(dir, name, kTag);
}

std::string staging_template(const std::string& dir, const std::string& name) {
  return tagged_template(dir, name, kStagingTag);
}

bool is_staging_name(std::string_view name) { return is_tagged(name, kStagingTag); }

void fill_temp_suffix(std::string& name_template) {
  // Important: one generator per thread; the job's workers make names at the same time.
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, kChars.size() - 1);
  for (size_t i = name_template.size() - kSuffix; i < name_template.size(); ++i)
    name_template[i] = kChars[pick(rng)];
}

bool is_temp_name(std::string_view name) { return is_tagged(name, kTag); }

}  // namespace platform
