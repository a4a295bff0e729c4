// .editorconfig as a per-file policy source: its charset and end_of_line.
#pragma once

#include "platform/editorconfig.h"
#include "policy/file_policy.h"

// What a file's .editorconfig properties ask for. charset: latin1 (ISO-8859-1), utf-8 (no
// mark), utf-8-bom (UTF-8 with a mark), utf-16be, utf-16le (the file's own mark kept);
// end_of_line: lf, crlf, cr. Other values are passed over, as editors do; a lookup that failed
// gives a part with only `error` set.
PolicyPart editorconfig_part(const platform::EditorconfigLookup& lookup);

// The source the job adds after the rules when .editorconfig is followed; safe to call from
// every conversion thread.
PolicySource editorconfig_source();
