// Transcoding one file.
#include "convert/transcoder.h"

#include "app/app_state.h"

BufferOutcome convert_buffer(std::string&, const char*, size_t, const char*, const char*) {
  return {};
}
int64_t file_size(std::FILE*) { return -1; }
void make_dirs(std::string) {}
ConvertResult AppState::convert_file(const fsutil::search_file_info&) { return {}; }
