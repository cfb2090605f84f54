// LD_PRELOAD shim: a writer that dies half-way through the metrics file. The
// first write into a hidden temporary file of the folder CORVANITE_SHIM_FOLDER
// names writes half of its bytes, then creates the file CORVANITE_SHIM_MARKER
// and waits for ever, so that a scenario can kill the process at that moment.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Write = ssize_t (*)(int, const void*, size_t);

// The descriptor's file is a dot name in the watched folder.
bool isHiddenFileIn(int fd, const char* folder) {
  char link[64];
  const int length = std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (length <= 0) return false;
  char target[4096];
  const ssize_t size = ::readlink(link, target, sizeof target - 1);
  if (size <= 0) return false;
  const std::string path(target, static_cast<std::size_t>(size));
  const std::string prefix = std::string(folder) + "/.";
  return path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto next = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  const char* folder = std::getenv("CORVANITE_SHIM_FOLDER");
  const char* marker = std::getenv("CORVANITE_SHIM_MARKER");
  if (folder == nullptr || marker == nullptr || size < 2 || !isHiddenFileIn(fd, folder)) {
    return next(fd, data, size);
  }
  next(fd, data, size / 2);
  const int made = ::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (made != -1) ::close(made);
  for (;;) ::pause();
}
