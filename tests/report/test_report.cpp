// The report's texts: details a person can act on, CSV by RFC 4180, JSON that parses.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "report/report.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

FileReport entry(const std::string& path, Outcome outcome) {
  FileReport r;
  r.path = path;
  r.outcome = outcome;
  r.source = "GBK";
  r.target = "UTF-8";
  r.bytes = 12;
  return r;
}

}  // namespace

// Details: errno with its text, a stop point with line and column, else the note.
TEST(Report, DetailTexts) {
  FileReport w = entry("a", Outcome::cannot_write);
  w.error = ENOSPC;
  EXPECT_EQ(detail_text(w), "error: 28 (No space left on device)");
  FileReport c = entry("a", Outcome::cannot_convert);
  c.error = EILSEQ;
  c.stop = StopPoint{17, 2, 5};
  EXPECT_EQ(detail_text(c), "stops at byte 17 (line 2, column 5)");
  FileReport m = entry("a", Outcome::marked);
  m.note = "marked as UTF-16LE";
  EXPECT_EQ(detail_text(m), "marked as UTF-16LE");
}

// RFC 4180: fields with a comma, a quote or a line break are quoted, quotes doubled, rows
// end in CR LF; path bytes that are not UTF-8 are written as they are.
TEST(Report, CsvQuotingAndRawPaths) {
  JobReport r;
  r.files.push_back(entry("a,b.cpp", Outcome::converted));
  r.files.push_back(entry("say \"hi\".txt", Outcome::ascii));
  r.files.push_back(entry("line\nbreak", Outcome::converted));
  r.files.push_back(entry("\xD6\xD0.txt", Outcome::converted));
  FileReport failure = entry("deep/dir", Outcome::search_failed);
  failure.error = ENAMETOOLONG;
  r.search_failures.push_back(failure);
  const std::string csv = report_csv(r);
  EXPECT_EQ(csv,
            "path,outcome,source,target,bytes,detail\r\n"
            "\"a,b.cpp\",converted,GBK,UTF-8,12,\r\n"
            "\"say \"\"hi\"\".txt\",ascii,GBK,UTF-8,12,\r\n"
            "\"line\nbreak\",converted,GBK,UTF-8,12,\r\n"
            "\xD6\xD0.txt,converted,GBK,UTF-8,12,\r\n"
            "deep/dir,search-failed,GBK,UTF-8,12,error: 36 (File name too long)\r\n");
}

// A detected source's evidence ends the CSV detail.
TEST(Report, CsvDetailNamesEvidence) {
  JobReport r;
  FileReport f = entry("a.cpp", Outcome::converted);
  f.evidence = "tree statistics";
  f.confidence = 94;
  r.files.push_back(f);
  EXPECT_NE(report_csv(r).find(",\"read as GBK by tree statistics, confidence 94\"\r\n"),
            std::string::npos);
  // Left unsettled by detection, then read by its repair: that, and no confidence.
  FileReport mixed = entry("m.c", Outcome::converted);
  mixed.evidence = "undetected";
  mixed.confidence = 0;
  FileReport doubled = entry("d.c", Outcome::double_encoded);
  doubled.evidence = "ambiguous";
  doubled.source = "UTF-8";
  FileReport refused = entry("a.c", Outcome::ambiguous);
  refused.evidence = "ambiguous";
  refused.source.clear();
  r.files = {mixed, doubled, refused};
  const std::string csv = report_csv(r);
  EXPECT_NE(csv.find("m.c,converted,GBK,UTF-8,12,read as GBK by its lines that are not UTF-8 "
                     "(undetected as a whole)\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",read as UTF-8 by undoing its misreading (ambiguous as a whole)\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("a.c,ambiguous,,UTF-8,12,\r\n"), std::string::npos) << csv;
  EXPECT_TRUE(read_by_repair(mixed));
  EXPECT_FALSE(read_by_repair(refused));
  EXPECT_FALSE(read_by_repair(f));
}

// JSON: every entry, counts per outcome, paths that are not UTF-8 also as hex; it parses.
TEST(Report, JsonParsesAndKeepsRawPaths) {
  JobReport r;
  r.input = "/in";
  r.files.push_back(entry("\xD6\xD0.txt", Outcome::converted));
  r.files.push_back(entry("q\"\\\t.txt", Outcome::binary));
  const std::string json = report_json(r);
  EXPECT_NE(json.find("\"path_hex\":\"d6d02e747874\""), std::string::npos);
  EXPECT_NE(json.find("\"counts\":{\"converted\":1,\"binary\":1}"), std::string::npos);
  TempDir tmp;
  write_file(tmp / "r.json", json);
  const std::string cmd =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
      "sys.exit(0 if len(d[\"files\"])==2 else 1)' " +
      (tmp / "r.json");
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// Outcome names round-trip and classes: done, failure, neither.
TEST(Report, OutcomeNamesAndClasses) {
  for (size_t i = 0; i < kOutcomeCount; ++i) {
    const auto o = static_cast<Outcome>(i);
    EXPECT_EQ(outcome_from_name(outcome_name(o)), o);
  }
  EXPECT_TRUE(outcome_is_done(Outcome::already_utf8));
  EXPECT_TRUE(outcome_is_failure(Outcome::marked));
  EXPECT_TRUE(outcome_is_failure(Outcome::not_reached));
  EXPECT_FALSE(outcome_is_failure(Outcome::binary));
  EXPECT_FALSE(outcome_is_done(Outcome::binary));
}
