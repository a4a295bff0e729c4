// Each file's source encoding decided before anything is converted: its mark, strict UTF-8,
// pure ASCII, else statistics over the file or, when it holds too little text, its folder
// and the tree.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "job/file_convert.h"

class SourceDetection {
 public:
  // `candidates`: encodings and preset names; empty means the preset of `preferred`.
  // `accept_unsure`: a file detection would refuse is read as its best reading, a guess.
  SourceDetection(const std::vector<std::string>& candidates, const EncodingEntry& preferred,
                  size_t files, bool accept_unsure = false);

  // The line that opens the detection in the log.
  std::string opening_line() const;

  // Of a big file, its beginning is enough: examine looks at no more.
  static constexpr size_t kBytes = size_t{1} << 20;

  // Looks at one file's content (thread-safe; each index from one thread). Decides it at
  // once when the content speaks for itself, else hands it to the tree detector.
  void examine(size_t index, JobFile& file, std::string_view content);

  // Decides what was pooled and fills those files; returns the lines that sum up the
  // decisions for the log. Once, after every examine.
  std::vector<std::string> finish(std::vector<JobFile>& files);

 private:
  EncodingEntry preferred_;
  detect::TreeDetector tree_;
  std::vector<char> pooled_;  // one slot per file, written by the thread that examines it
};

// A hand-picked narrow label (SHIFT_JIS, EUC-KR, GB2312, ISO-8859-1...) whose wider label
// would read the tree differently is worth one line in the log. Thread-safe.
class NarrowLabelCheck {
 public:
  explicit NarrowLabelCheck(const std::string& charset);
  bool wanted() const;
  // The hint for this content, once per run; "" when there is none or it was given.
  std::string check(std::string_view content, const std::string& path);

 private:
  std::string charset_;
  std::string wider_;
  std::atomic<bool> given_{false};
  std::atomic<uint64_t> budget_{4u << 20};  // bytes examined at most
};
