// What is wrong with a file checked against its own policy (--check --editorconfig).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "report/report.h"
#include "transcode/line_endings.h"

struct Classification;
struct RunEncodings;

// The note of a file that carries another form's byte-order mark ("marked as UTF-16LE"), in the
// user's language, and the form such a note names ("" for any other note).
std::string marked_as_note(std::string_view form);
std::string form_of_marked_note(std::string_view note);

// The first line end of `text` (code units of `units`) that is not of the kind `want` asks
// for, with its line (from 1): "CRLF line end, LF wanted". Nothing for keep, for a width-0
// encoding, or when every line end is right.
std::optional<Offence> first_wrong_line_end(std::string_view text, EolUnits units, EolMode want);

// Why a file read as its own target would change or cannot be as wanted, the first offending
// line when the file was held whole (`content`; empty for one read in chunks: then the line
// is 0 and the counts say what is wrong). Nothing when the file passes.
std::optional<Offence> describe_offence(std::string_view content, const RunEncodings& enc,
                                        const Classification& cls, const FileReport& report,
                                        EolMode want);
