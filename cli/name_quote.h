// File names made safe for a terminal line, quoted the way `ls` quotes them.
#pragma once

#include <string>
#include <string_view>

// `name` as is when nothing in it needs quoting; else in shell quotes, with control characters
// and bytes that are not UTF-8 written as $'\n', $'\377'. Pasted into a shell it names the
// file again, and it never spans two lines.
std::string quote_name(std::string_view name);

// `text` with control characters and bytes that are not UTF-8 written as \n, \377: for lines
// that mix names with words, so one line stays one line.
std::string visible_text(std::string_view text);
