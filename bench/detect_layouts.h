// The labelled corpus laid out as the trees a user converts, and the product's detecting
// dry-run job over them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "labelled_corpus.h"

namespace layouts {

// Each file's folder (relative to a work root) in one layout.
using Placement = std::vector<std::string>;

// A folder per preset and encoding: enc/<preset>/<ENCODING>.
Placement by_encoding(const std::vector<labelled::File>& files);
// Folders of about `per_folder` files of one preset in mixed encodings: mixed/<preset>/m<N>.
Placement mixed(const std::vector<labelled::File>& files, size_t per_folder);
// Each file in a folder of its own: alone/f<index>.
Placement alone(const std::vector<labelled::File>& files);

// Writes file i as <root>/<placement[i]>/f<i>.<ext>; names carry no label.
bool write_tree(const std::string& root, const std::vector<labelled::File>& files,
                const Placement& placement, std::string* error);

// The distinct folders of a placement, each with the indexes of its files.
std::map<std::string, std::vector<size_t>> folders(const Placement& placement);

struct Answer {
  std::string named;    // the encoding the report says the file was read as
  std::string outcome;  // the outcome's name ("converted", "ambiguous", ...)
};

// A dry-run job with detection over `input` (one thread), as the command line runs it with
// --detect --candidates ... --from preferred; answers by file index (from the file names).
// Without `detect`, the same job reading every file as `preferred` (a speed baseline).
std::map<size_t, Answer> run_job(const std::string& input,
                                 const std::vector<std::string>& candidates,
                                 const std::string& preferred, bool detect = true);

// Every preset's name, and the first (most likely) encoding of one.
std::vector<std::string> preset_names();
std::string first_encoding(const std::string& preset);

// The preset folder name of a file ("Central_European").
std::string preset_folder(const labelled::File& file);

}  // namespace layouts
