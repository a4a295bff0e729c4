// Helpers shared by the tests.
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "util/i18n.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ouzel-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only directories made by tests must be writable again to be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

ScopedCwd::ScopedCwd(const std::string& dir) : saved_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  fs::current_path(saved_, ec);
}

void make_socket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  path.copy(addr.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
}

void write_file(const std::string& path, std::string_view data) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // Important: "" would compare equal to a reference that also came out empty.
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_tree(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (!it->is_directory(ec)) out.push_back(fs::relative(it->path(), dir, ec).string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t file_mode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string mixed_text(size_t pieces, bool astral, bool unicode_only) {
  std::vector<std::string> chars = {"\xE4\xB8\xAD", "\xE6\x96\x87", "\xE5\xAD\x97"};  // 中文字
  if (unicode_only) {
    chars.push_back("\xC3\xA9");      // é: two bytes
    chars.push_back("\xE2\x82\xAC");  // €
  }
  if (astral) {
    chars.push_back("\xF0\x9F\x98\x80");  // U+1F600: four bytes, a surrogate pair in UTF-16
    chars.push_back("\xF0\xA0\x80\x80");  // U+20000
  }
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    text.append(i % 4, static_cast<char>('a' + i % 26));
    text += chars[i % chars.size()];
    if (i % 17 == 16) text += '\n';
  }
  return text;
}

std::string iconv_command(std::string_view input, const std::string& from, const std::string& to,
                          bool* ok) {
  TempDir dir;
  write_file(dir / "in", input);
  const std::string cmd = "iconv -f '" + from + "' -t '" + to + "' '" + (dir / "in") + "' > '" +
                          (dir / "out") + "' 2>/dev/null";
  const int rc = std::system(cmd.c_str());
  if (ok != nullptr) {
    *ok = rc == 0;
    return rc == 0 ? read_file(dir / "out") : std::string();
  }
  // A reference that could not be made would otherwise pass for an empty expected output.
  if (rc != 0) ADD_FAILURE() << "iconv -f " << from << " -t " << to << " failed";
  return rc == 0 ? read_file(dir / "out") : std::string();
}

std::string binary_sample(size_t bytes) {
  std::string data = read_file("/usr/bin/ls");
  if (data.empty())
    data = std::string(
               "\x7F"
               "ELF\x02\x01\x01",
               7) +
           std::string(64, '\0');
  while (data.size() < bytes) data += data;
  data.resize(bytes);
  return data;
}

std::string encode_as(std::string_view utf8, const std::string& encoding) {
  iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter " + encoding);
  std::string out(utf8.size() * 4 + 32, '\0');
  char* ip = const_cast<char*>(utf8.data());
  size_t il = utf8.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool ok = ::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) &&
                  ::iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  if (!ok || il != 0) throw std::runtime_error("text has no form in " + encoding);
  out.resize(out.size() - ol);
  return out;
}

const char* const kSimplified[24] = {
    "初始化缓冲区", "读取配置文件", "释放内存",       "检查参数", "打开文件失败", "计算校验和",
    "更新索引",     "关闭连接",     "等待线程结束",   "处理错误", "解析命令行",   "写入日志",
    "分配新节点",   "删除旧记录",   "比较两个字符串", "转换编码", "保存设置",     "加载字体",
    "绘制窗口",     "发送请求",     "接收数据",       "重试三次", "清理临时文件", "返回结果"};

const char* const kTraditional[24] = {
    "初始化緩衝區", "讀取設定檔", "釋放記憶體",     "檢查參數", "開啟檔案失敗", "計算校驗和",
    "更新索引",     "關閉連線",   "等待執行緒結束", "處理錯誤", "解析命令列",   "寫入日誌",
    "配置新節點",   "刪除舊記錄", "比較兩個字串",   "轉換編碼", "儲存設定",     "載入字型",
    "繪製視窗",     "傳送請求",   "接收資料",       "重試三次", "清理暫存檔",   "傳回結果"};

std::string source_with_comment(std::string_view comment_utf8, const std::string& encoding,
                                int serial) {
  const std::string n = std::to_string(serial);
  const std::string text = "#include <cstdio>\n\n// " + std::string(comment_utf8) + "\nint f" + n +
                           "(int x) {\n  std::printf(\"%d\\n\", x);\n  return x + " + n + ";\n}\n";
  return encode_as(text, encoding);
}

// A page of the fetched packages (scripts/text_cache.py), never an installed one, or a fixed
// paragraph. Important: read once; a script started per call slows tests making thousands.
static std::string chinese_page() {
  std::string page;
  const char* cmd =
      "r=$(python3 '" OUZEL_SOURCE_DIR
      "/scripts/text_cache.py' root) && for p in ls bash; do "
      "f=\"$r/usr/share/man/zh_CN/man1/$p.1.gz\"; [ -f \"$f\" ] && exec zcat \"$f\"; done";
  if (FILE* p = ::popen(cmd, "r")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) page.append(buf, n);
    ::pclose(p);
  }
  if (page.empty()) {
    page =
        "字符编码转换工具把源代码和文档从一种编码转换为另一种编码。\n"
        "中华人民共和国，繁體中文與簡體中文，日本語のテキスト、한국어。\n";
  }
  return page;
}

std::string chinese_text(size_t bytes) {
  static const std::string source = chinese_page();
  std::string out;
  out.reserve(bytes + source.size());
  while (out.size() < bytes) out += source;
  // Cut at a line end so no UTF-8 sequence is split.
  size_t cut = out.rfind('\n', bytes);
  out.resize(cut == std::string::npos ? out.size() : cut + 1);
  return out;
}

DeepChain::DeepChain(const std::string& parent) : name_(200, 'd') {
  const int depth = 4200 / 201 + 2;  // past PATH_MAX whatever the temp root
  fds_.push_back(::open(parent.c_str(), O_RDONLY | O_DIRECTORY));
  for (int i = 0; i < depth && fds_.back() >= 0; ++i) {
    if (::mkdirat(fds_.back(), name_.c_str(), 0755) != 0) break;
    fds_.push_back(::openat(fds_.back(), name_.c_str(), O_RDONLY | O_DIRECTORY));
  }
}

DeepChain::~DeepChain() {
  // Paths this long defeat path-based removal; go from the bottom through the descriptors.
  for (size_t i = fds_.size() - 1; i > 0; --i) {
    if (fds_[i] >= 0) ::close(fds_[i]);
    ::unlinkat(fds_[i - 1], name_.c_str(), AT_REMOVEDIR);
  }
  if (fds_[0] >= 0) ::close(fds_[0]);
}

int run_process(const std::vector<std::string>& argv, std::string* err) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while (rc == 0 && (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0)
    text.append(buf, static_cast<size_t>(n));
  ::close(pipe_fds[0]);
  if (err) *err = text;
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::map<std::string, std::string> read_tree(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file(ec))
      files[fs::relative(it->path(), root).string()] = read_file(it->path().string());
  }
  return files;
}

void JobRecorder::message(const std::string& text) { messages.push_back(text); }

void JobRecorder::file_done(size_t index, const FileReport&, const std::vector<std::string>& lines,
                            const JobProgress& progress) {
  file_lines.push_back(lines);
  order.push_back(index);
  last = progress;
}

JobReport run_job(const JobPlan& plan, JobRecorder* recorder) {
  JobRecorder local;
  ConvertJob job(plan);
  return job.run(recorder != nullptr ? *recorder : local);
}

JobPlan make_plan(const std::string& input, const std::string& output, const char* from,
                  const char* to) {
  JobPlan plan;
  plan.input = input;
  plan.output = output;
  plan.filter = "*.*";
  plan.source = EncodingEntry(from);
  plan.target = EncodingEntry(to);
  return plan;
}

const FileReport* entry_for(const JobReport& report, const std::string& path) {
  for (const auto& f : report.files)
    if (f.path == path) return &f;
  for (const auto& f : report.search_failures)
    if (f.path == path) return &f;
  return nullptr;
}

const std::vector<std::string>& every_preset() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> names;
    for (const detect::Preset& p : detect::presets()) names.push_back(p.name);
    return names;
  }();
  return all;
}

detect::Decision alone(const std::vector<std::string>& candidates, const std::string& preferred,
                       const std::string& bytes) {
  detect::TreeDetector det(candidates, preferred);
  det.add(0, "", bytes);
  det.finish();
  return det.decision(0);
}

std::vector<std::string> languages() {
  std::vector<std::string> out;
  std::istringstream list(OUZEL_LANGUAGES);
  for (std::string language; list >> language;) out.push_back(language);
  return out;
}

ScopedLanguage::ScopedLanguage(const std::string& language) {
  if (language.empty()) return;
  // As the program does for a locale the system lacks: the language named by LANGUAGE.
  ::setenv("LANGUAGE", language.c_str(), 1);
  ::setlocale(LC_MESSAGES, "C.UTF-8");
  ::bindtextdomain(i18n::kDomain, OUZEL_BUILD_LOCALE_DIR);
  ::bind_textdomain_codeset(i18n::kDomain, "UTF-8");
  ::textdomain(i18n::kDomain);  // also drops the translations looked up before
}

ScopedLanguage::~ScopedLanguage() {
  ::unsetenv("LANGUAGE");
  ::setlocale(LC_MESSAGES, "C");
  ::textdomain(i18n::kDomain);
}

}  // namespace testing_support
