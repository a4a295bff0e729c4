// Detection accuracy on a labelled corpus, alone and pooled, and detection speed against
// converting the same files.
//
// Usage: bench_detect [data-dir] [--no-libs] [--show-wrong] [--speed-only] [--accuracy-only]
// The corpus is generated once under data-dir/detect (default ./bench-data) from the manual
// pages of manpages-zh, -ja, -ru, -uk, -de, -fr, -es, -pl, -cs, -hu, -el, -tr, -vi, the Korean
// pages of man-db and the iso-codes catalogues (Hebrew, Arabic, Thai), and reused.
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "bench_detect_corpus.h"
#include "detect/detect.h"

using bench_detect::Sample;
using bench_detect::Size;

namespace {

struct Tally {
  size_t files = 0, right = 0, wrong = 0, undetected = 0, exact = 0;
  std::vector<int> conf_right, conf_wrong;

  void add(const Tally& o) {
    files += o.files, right += o.right, wrong += o.wrong, undetected += o.undetected;
    exact += o.exact;
    conf_right.insert(conf_right.end(), o.conf_right.begin(), o.conf_right.end());
    conf_wrong.insert(conf_wrong.end(), o.conf_wrong.begin(), o.conf_wrong.end());
  }
};

std::string decode(const std::string& bytes, const std::string& encoding, bool* ok) {
  *ok = false;
  iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(bytes.size() * 4 + 64, '\0');
  char* ip = const_cast<char*>(bytes.data());
  size_t il = bytes.size();
  char* op = out.data();
  size_t ol = out.size();
  const size_t r = ::iconv(cd, &ip, &il, &op, &ol);
  const bool done = r != static_cast<size_t>(-1) && il == 0 &&
                    ::iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  *ok = done;
  return out;
}

bool g_show_wrong = false;

void show_wrong(const Sample& s, const detect::Decision& d, const std::string& want,
                const std::string& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  const size_t from = i > 30 ? i - 30 : 0;
  std::printf("WRONG %s/%s %s -> %s (%s, %d) %s\n  want: %s\n  got:  %s\n", s.language.c_str(),
              s.encoding.c_str(), s.dir.c_str(), d.encoding.c_str(),
              detect::evidence_name(d.evidence), d.confidence, d.note.c_str(),
              want.substr(from, 70).c_str(), got.substr(from, 70).c_str());
}

// Right means the decided encoding gives the very text the truth gives, or it is the wider
// label of the truth and reads the file (narrow labels lose to wider ones by rule).
void judge(const Sample& s, const detect::Decision& d, Tally& t) {
  ++t.files;
  if (d.encoding.empty() || d.evidence == detect::Evidence::undetected) {
    ++t.undetected;
    return;
  }
  bool ok_truth, ok_got;
  const std::string want = decode(s.bytes, s.encoding, &ok_truth);
  const std::string got = decode(s.bytes, d.encoding, &ok_got);
  const bool wider = d.encoding == detect::wider_label(s.encoding) && ok_got;
  if (ok_truth && ok_got && (want == got || wider)) {
    ++t.right;
    t.exact += d.encoding == s.encoding ? 1 : 0;
    t.conf_right.push_back(d.confidence);
  } else {
    ++t.wrong;
    t.conf_wrong.push_back(d.confidence);
    if (g_show_wrong) show_wrong(s, d, want, got);
  }
}

const detect::Preset& preset_named(const std::string& name) {
  for (const detect::Preset& p : detect::presets())
    if (p.name == name) return p;
  return detect::presets().front();
}

Tally run_group(const std::vector<const Sample*>& group, const std::string& preset, bool pooled,
                bool libs, const std::string& prefix = "") {
  detect::TreeDetector::Options opt;
  opt.pooling = pooled;
  opt.libraries = libs;
  const detect::Preset& p = preset_named(preset);
  detect::TreeDetector det({p.name}, p.encodings.front(), opt);
  for (size_t i = 0; i < group.size(); ++i) det.add(i, prefix + group[i]->dir, group[i]->bytes);
  det.finish();
  Tally t;
  for (size_t i = 0; i < group.size(); ++i) judge(*group[i], det.decision(i), t);
  return t;
}

int median(std::vector<int> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double mean(const std::vector<int>& v) {
  if (v.empty()) return -1;
  double s = 0;
  for (int x : v) s += x;
  return s / static_cast<double>(v.size());
}

void print_row(const char* size, const char* mode, const std::string& lang, const std::string& enc,
               const Tally& t) {
  const double pct =
      t.files ? 100.0 * static_cast<double>(t.right) / static_cast<double>(t.files) : 0;
  const int max_wrong =
      t.conf_wrong.empty() ? -1 : *std::max_element(t.conf_wrong.begin(), t.conf_wrong.end());
  std::printf("%-5s %-6s %-6s %-12s %5zu %5zu %5zu %5zu %7.2f%% %5zu | %5.1f %4d | %5.1f %4d\n",
              size, mode, lang.c_str(), enc.c_str(), t.files, t.right, t.wrong, t.undetected, pct,
              t.exact, mean(t.conf_right), median(t.conf_right), mean(t.conf_wrong), max_wrong);
}

void print_header() {
  std::printf("%-5s %-6s %-6s %-12s %5s %5s %5s %5s %8s %5s | %-10s | %-10s\n", "size", "mode",
              "lang", "encoding", "files", "right", "wrong", "undet", "right%", "label",
              "conf right", "conf wrong");
  std::printf("%-46s %31s | mean  med  | mean  max\n", "", "");
}

void accuracy(const std::string& dir, bool libs) {
  print_header();
  std::map<std::string, Tally> totals;
  for (Size size : {Size::page, Size::line, Size::tree}) {
    const std::vector<Sample> samples = bench_detect::load(dir, size);
    for (bool pooled : {false, true}) {
      Tally all;
      for (const auto& lang : bench_detect::languages()) {
        for (const std::string& enc : lang.encodings) {
          std::vector<const Sample*> group;
          for (const Sample& s : samples)
            if (s.language == lang.code && s.encoding == enc) group.push_back(&s);
          if (group.empty()) continue;
          const Tally t = run_group(group, lang.preset, pooled, libs);
          print_row(bench_detect::size_name(size), pooled ? "pooled" : "alone", lang.code, enc, t);
          all.add(t);
        }
      }
      print_row(bench_detect::size_name(size), pooled ? "pooled" : "alone", "ALL", "", all);
      totals[std::string(bench_detect::size_name(size)) + (pooled ? " pooled" : " alone")] = all;
    }
  }
  std::printf("\nTotals\n");
  print_header();
  for (const auto& [key, t] : totals)
    print_row(key.substr(0, 4).c_str(), key.substr(5).c_str(), "ALL", "", t);
}

// Two encodings of one preset, each in its own folder of one tree of small files.
void mixed_folders(const std::string& dir, bool libs) {
  const std::vector<Sample> samples = bench_detect::load(dir, Size::tree);
  struct Pair {
    const char* preset;
    const char* lang_a;
    const char* enc_a;
    const char* lang_b;
    const char* enc_b;
  };
  const Pair pairs[] = {
      {"Chinese", "zh_CN", "GBK", "zh_TW", "BIG5"},
      {"Japanese", "ja", "CP932", "ja", "EUC-JP"},
      {"Korean", "ko", "CP949", "ko", "EUC-KR"},
      {"Cyrillic", "ru", "CP1251", "ru", "KOI8-R"},
      {"Cyrillic", "uk", "CP866", "ru", "CP1251"},
      {"Central European", "pl", "CP1250", "cs", "ISO-8859-2"},
  };
  std::printf("\nTwo encodings in two folders of one tree (tree size, pooled)\n");
  print_header();
  for (const Pair& p : pairs) {
    std::vector<const Sample*> group;
    std::vector<Sample> relabelled;
    relabelled.reserve(samples.size());
    for (const Sample& s : samples) {
      const bool a = s.language == p.lang_a && s.encoding == p.enc_a;
      const bool b = s.language == p.lang_b && s.encoding == p.enc_b;
      if (!a && !b) continue;
      Sample copy = s;
      copy.dir = (a ? "left/" : "right/") + s.dir;
      relabelled.push_back(std::move(copy));
    }
    for (const Sample& s : relabelled) group.push_back(&s);
    const Tally t = run_group(group, p.preset, true, libs);
    print_row("tree", "mixed", std::string(p.lang_a) + "+" + p.lang_b,
              std::string(p.enc_a) + "+" + p.enc_b, t);
  }
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Detection plus the preview's sample line against converting, on an 11,000-file GBK tree in
// memory (no file I/O on either side), interleaved rounds.
void speed() {
  const std::string text = bench_corpus::gbk_text(8 << 20);
  if (text.empty()) {
    std::printf("\nspeed: no Chinese manual pages (manpages-zh); skipped\n");
    return;
  }
  std::vector<std::string> files;
  size_t at = 0, total = 0;
  for (size_t i = 0; i < 11000; ++i) {
    const size_t len = 1024 + (i * 7919) % 26000;
    if (at + len >= text.size()) at = 0;
    size_t end = text.find('\n', at + len);
    if (end == std::string::npos) end = text.size();
    files.push_back(text.substr(at, end - at));
    total += files.back().size();
    at = end + 1;
  }
  std::vector<double> t_detect, t_convert;
  std::string out;
  size_t sink = 0;
  for (int round = 0; round < 6; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    detect::TreeDetector det({"Chinese"}, "GBK");
    for (size_t i = 0; i < files.size(); ++i) det.add(i, "d" + std::to_string(i % 50), files[i]);
    det.finish();
    for (size_t i = 0; i < files.size(); ++i)
      sink += detect::sample_line(files[i], det.decision(i).encoding).size();
    const double d = seconds_since(t0);
    t0 = std::chrono::steady_clock::now();
    for (const std::string& f : files) {
      iconv_t cd = ::iconv_open("UTF-8", "GBK");
      out.resize(f.size() * 2 + 16);
      char* ip = const_cast<char*>(f.data());
      size_t il = f.size();
      char* op = out.data();
      size_t ol = out.size();
      ::iconv(cd, &ip, &il, &op, &ol);
      ::iconv_close(cd);
      sink += ol;
    }
    const double c = seconds_since(t0);
    if (round == 0) continue;  // warm-up
    t_detect.push_back(d);
    t_convert.push_back(c);
  }
  std::sort(t_detect.begin(), t_detect.end());
  std::sort(t_convert.begin(), t_convert.end());
  const double md = t_detect[t_detect.size() / 2], mc = t_convert[t_convert.size() / 2];
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("\nSpeed, 11,000 GBK files, %.1f MB in memory, 1 thread, medians of 5 rounds\n", mb);
  std::printf("  detection + sample line: %7.3f s  %7.1f MB/s\n", md, mb / md);
  std::printf("  conversion (iconv):      %7.3f s  %7.1f MB/s\n", mc, mb / mc);
  std::printf("  ratio detection/conversion: %.2f   (%zu)\n", md / mc, sink % 10);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "bench-data";
  bool libs = true, do_speed = true, do_accuracy = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-libs") == 0)
      libs = false;
    else if (std::strcmp(argv[i], "--show-wrong") == 0)
      g_show_wrong = true;
    else if (std::strcmp(argv[i], "--speed-only") == 0)
      do_accuracy = false;
    else if (std::strcmp(argv[i], "--accuracy-only") == 0)
      do_speed = false;
    else
      dir = argv[i];
  }
  if (do_accuracy) {
    accuracy(dir, libs);
    mixed_folders(dir, libs);
  }
  if (do_speed) speed();
  return 0;
}
