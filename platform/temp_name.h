// Names of this tool's temporary files: made beside the target, recognised for clean-up.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The directory part of `path` with its trailing '/' ("" for a bare name) and the last part.
std::string dir_part(const std::string& path);
std::string name_part(const std::string& path);

// "DIR/.NAME.ouzel-XXXXXX": hidden, so a search over the same tree passes it over; NAME is cut
// so that the whole fits in NAME_MAX even when the target's own name is that long. The six X
// are left for mkostemp or fill_temp_suffix.
std::string temp_template(const std::string& dir, const std::string& name);

// Replaces the trailing six X of a template with random letters and digits.
void fill_temp_suffix(std::string& name_template);

// "DIR/.NAME.ouzel-new-XXXXXX": a folder the run fills before giving it its NAME, six X as above.
std::string staging_template(const std::string& dir, const std::string& name);
// A name of exactly that pattern.
bool is_staging_name(std::string_view name);

// A name of exactly the temporary pattern: '.', at least one byte, ".ouzel-", six letters or
// digits.
bool is_temp_name(std::string_view name);

}  // namespace platform
