// Batched flush-then-publish of written targets on a background thread.
#include "platform/publisher.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/sys_io.h"
#include "platform/temp_name.h"

namespace platform {
namespace {

// A quarter of the descriptors at most per batch: two batches are held, the job needs the rest.
size_t descriptor_cap() {
  struct rlimit lim;
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return std::max<size_t>(1, static_cast<size_t>(lim.rlim_cur) / 4);
}

}  // namespace

Status relink(const std::string& from, const std::string& name) {
  const std::string tmp = name + ".ouzel-link";
  sysio().unlink(tmp.c_str());
  if (sysio().linkat(AT_FDCWD, from.c_str(), AT_FDCWD, tmp.c_str(), 0) != 0)
    return last_error("link " + from + " to " + tmp);
  if (sysio().rename(tmp.c_str(), name.c_str()) != 0) {
    Error err = last_error("rename " + tmp + " to " + name);
    sysio().unlink(tmp.c_str());
    return err;
  }
  return {};
}

Publisher::Publisher(PublisherOptions options, PublishCallback on_result)
    : options_(options), on_result_(std::move(on_result)) {
  options_.batch_files = std::clamp<size_t>(options_.batch_files, 1, descriptor_cap());
  if (options_.durable) worker_ = std::thread([this] { run(); });
}

Publisher::~Publisher() {
  finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool Publisher::batch_full() const {
  return filling_.size() >= options_.batch_files || filling_bytes_ >= options_.batch_bytes;
}

void Publisher::hand_over(std::unique_lock<std::mutex>&) {
  handed_ = std::move(filling_);
  filling_.clear();
  filling_bytes_ = 0;
  changed_.notify_all();
}

void Publisher::submit(TargetFile&& target, uint64_t token) {
  if (!options_.durable) {
    const int err = target.commit();
    on_result_(token, target.path(), err);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  filling_bytes_ += target.size();
  filling_.push_back({std::move(target), token});
  while (batch_full()) {
    if (!handed_ && !busy_)
      hand_over(lock);
    else
      changed_.wait(lock);
  }
}

int Publisher::publish_linked(TargetFile&& target, const std::vector<std::string>& links,
                              std::vector<std::pair<std::string, int>>& unlinked) {
  struct stat st;
  // A device that cannot be told is key 0, like in process: its names are still synced.
  const dev_t dev = target.is_open() && sysio().fstat(target.fd(), &st) == 0 ? st.st_dev : 0;
  // Important: data first, names after, as for the batches.
  if (options_.durable) {
    if (const int err = options_.before_flush ? options_.before_flush() : 0) {
      target.abort();
      return err;
    }
    if (const int err = target.flush()) return err;
    if (options_.before_publish) {
      if (const int err = options_.before_publish({})) {
        target.abort();
        return err;
      }
    }
  }
  const std::string path = target.final_path();
  if (const int err = target.commit()) return err;
  std::vector<std::string> names{path};
  for (const std::string& name : links) {
    if (const Status linked = relink(path, name); !linked)
      unlinked.emplace_back(name, linked.err());
    else
      names.push_back(name);
  }
  if (options_.durable) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& name : names) linked_.try_emplace(dev, dir_part(name));
  }
  return 0;
}

void Publisher::finish() {
  if (!options_.durable) return;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!filling_.empty() || handed_ || busy_) {
    if (!filling_.empty() && !handed_ && !busy_)
      hand_over(lock);
    else
      changed_.wait(lock);
  }
  renamed_.merge(linked_);
  linked_.clear();
  sync_renamed();  // the background thread is idle and submits wait for the lock
}

void Publisher::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return handed_.has_value() || stop_; });
    if (!handed_) return;
    Batch batch = std::move(*handed_);
    handed_.reset();
    busy_ = true;
    lock.unlock();
    process(batch);
    batch.clear();
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

// Every file of the batch left unpublished with `err`.
void Publisher::refuse(Batch& batch, int err) {
  for (Item& item : batch) {
    item.file.abort();
    on_result_(item.token, item.file.path(), err);
  }
}

void Publisher::process(Batch& batch) {
  if (const int err = options_.before_flush ? options_.before_flush() : 0)
    return refuse(batch, err);
  std::map<dev_t, std::vector<Item*>> groups;
  std::vector<dev_t> devices(batch.size());
  for (size_t i = 0; i < batch.size(); ++i) {
    struct stat st;
    if (!batch[i].file.is_open()) continue;
    if (sysio().fstat(batch[i].file.fd(), &st) == 0) {
      devices[i] = st.st_dev;
      groups[st.st_dev].push_back(&batch[i]);
    } else {
      // Important: with its device unknown it is flushed alone, never published unsynced.
      batch[i].file.flush();
    }
  }
  std::vector<dev_t> flushed;
  for (auto& [dev, group] : groups) {
    flush_group(group);
    renamed_.erase(dev);  // this sync made the names published before it durable too
    flushed.push_back(dev);
  }
  if (const int err = options_.before_publish ? options_.before_publish(flushed) : 0)
    return refuse(batch, err);
  // Important: data first, names after; a crash in between leaves the old content or none.
  for (size_t i = 0; i < batch.size(); ++i) {
    TargetFile& file = batch[i].file;
    const int err = file.commit();
    if (err == 0) renamed_.try_emplace(devices[i], dir_part(file.final_path()));
    on_result_(batch[i].token, file.path(), err);
  }
}

void Publisher::flush_group(std::vector<Item*>& group) {
  const int fd = group.front()->file.fd();
  if (retry_eintr([&] { return sysio().syncfs(fd); }) == 0) return;
  // Some data may not be on the disk; file by file, a file that fails is aborted and reported.
  for (Item* item : group) item->file.flush();
}

void Publisher::sync_renamed() {
  for (const auto& [dev, dir] : renamed_) {
    const char* where = dir.empty() ? "." : dir.c_str();
    const int fd =
        retry_eintr([&] { return sysio().open(where, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) continue;  // removed since: none of our names is left to keep there
    retry_eintr([&] { return sysio().syncfs(fd); });
    sysio().close(fd);
  }
  renamed_.clear();
}

}  // namespace platform
