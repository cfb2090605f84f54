#include "net/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>
#include <vector>

#include "net/farewell.h"
namespace net {
namespace {

// The one owner of a file descriptor; closes it on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  ~FileDescriptor() {
    // Don't retry close in case of EINTR: the descriptor is gone either way.
    if (fd_ != -1) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&&) = delete;
  FileDescriptor& operator=(FileDescriptor&&) = delete;

  [[nodiscard]] int get() const noexcept { return fd_; }
  // Closes now, so that a failed close is seen; -1 and errno set on failure.
  int close() noexcept { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

// Removes the temporary file unless it was renamed into place.
class TemporaryName {
 public:
  explicit TemporaryName(std::string name) : name_(std::move(name)) {}
  ~TemporaryName() {
    if (!kept_) ::unlink(name_.c_str());
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  TemporaryName(TemporaryName&&) = delete;
  TemporaryName& operator=(TemporaryName&&) = delete;

  void keep() { kept_ = true; }

 private:
  std::string name_;
  bool kept_ = false;
};

FileReplaceError failure(const char* step, int code) {
  return FileReplaceError{step, code, std::generic_category().message(code)};
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<FileReplaceError> replaceFileWhole(const std::string& path,
                                                 std::string_view contents) {
  const std::string folder = folderOf(path);
  // A dot name ending in random letters: a collector that reads *.prom skips it.
  std::string pattern = folder + "/." + baseNameOf(path) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FileDescriptor file(::mkostemp(name.data(), O_CLOEXEC));
  if (file.get() == -1) return failure("creating a temporary file in the folder", errno);
  TemporaryName temporary(name.data());
  // A signal before the rename removes it too.
  PendingRemoval removal(name.data());

  const char* next = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    const ssize_t written = ::write(file.get(), next, left);
    if (written == -1) {
      if (errno == EINTR) continue;
      return failure("writing the temporary file", errno);
    }
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  // mkostemp makes 0600 whatever the umask; collectors run as other users.
  if (::fchmod(file.get(), 0644) != 0) return failure("setting the permissions", errno);
  // Flushed before the rename: after a crash the name never points at an empty file.
  if (::fsync(file.get()) != 0) return failure("flushing the temporary file", errno);
  if (file.close() != 0) return failure("closing the temporary file", errno);
  if (::rename(name.data(), path.c_str()) != 0) return failure("renaming it over the file", errno);
  removal.disarm();
  temporary.keep();

  // The new name is in place; syncing the folder only makes it survive a power cut.
  const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() != -1) ::fsync(directory.get());
  return std::nullopt;
}

}  // namespace net
