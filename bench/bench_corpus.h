// Generated benchmark input: real text of several languages (Chinese in GBK above all), and trees
// of files made from it.
#pragma once

#include <cstddef>
#include <string>

namespace bench_corpus {

// Where the packaged text stands (scripts/text_cache.py), fetched on first use; empty when it
// cannot be fetched.
const std::string& text_root();

// About `bytes` of GBK text converted from the Chinese manual pages (empty when missing).
std::string gbk_text(size_t bytes);

// About `bytes` of the same text in UTF-8.
std::string utf8_text(size_t bytes);

// About `bytes` of pure ASCII text: the C headers of the system, other bytes removed.
std::string ascii_text(size_t bytes);

// About `bytes` of prose in UTF-8: the text lines of the manual pages in `language` (a folder
// of /usr/share/man: zh_CN, zh_TW, ja, ko, ru, de, fr...), only lines `encoding` can write.
std::string prose_text(const std::string& language, const std::string& encoding, size_t bytes);

// About `bytes` of C++ source in UTF-8, mostly ASCII: the code of the C++ library's headers with
// a comment of prose_text(language, encoding) every eight lines.
std::string source_text(const std::string& language, const std::string& encoding, size_t bytes);

// `utf8` converted into `encoding` by iconv (empty when it cannot be).
std::string encoded(const std::string& utf8, const std::string& encoding);

// Creates `dir` with `files` files of min..max bytes cut from `text` at line ends, spread
// over nested folders, unless it already exists. Returns `dir`.
std::string make_tree(const std::string& dir, const std::string& text, size_t files,
                      size_t min_bytes, size_t max_bytes);

}  // namespace bench_corpus
