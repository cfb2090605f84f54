#include "net/file_replace.h"

#include <string>
#include <system_error>
#include <utility>
// Through winsock2.h, which must come before windows.h.
#include "net/platform.h"

namespace net {
namespace {

// The one owner of a file handle; closes it on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&&) = delete;
  FileHandle& operator=(FileHandle&&) = delete;

  [[nodiscard]] HANDLE get() const noexcept { return handle_; }
  // Closes now, so that a failed close is seen.
  bool close() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Removes the temporary file unless it was renamed into place; made before the
// handle, so that the handle is closed first.
class TemporaryName {
 public:
  explicit TemporaryName(std::string name) : name_(std::move(name)) {}
  ~TemporaryName() {
    if (!kept_) ::DeleteFileA(name_.c_str());
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  TemporaryName(TemporaryName&&) = delete;
  TemporaryName& operator=(TemporaryName&&) = delete;

  [[nodiscard]] const char* get() const { return name_.c_str(); }
  void keep() { kept_ = true; }

 private:
  std::string name_;
  bool kept_ = false;
};

FileReplaceError failure(const char* step) {
  const auto code = static_cast<int>(::GetLastError());
  return FileReplaceError{step, code, std::system_category().message(code)};
}

std::string temporaryNameFor(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + base + "." + std::to_string(processId()) + ".tmp";
}

}  // namespace

std::optional<FileReplaceError> replaceFileWhole(const std::string& path,
                                                 std::string_view contents) {
  TemporaryName temporary(temporaryNameFor(path));
  FileHandle file(::CreateFileA(temporary.get(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    return failure("creating a temporary file in the folder");
  }
  const char* next = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(left < 0x40000000U ? left : 0x40000000U);
    if (::WriteFile(file.get(), next, chunk, &written, nullptr) == 0) {
      return failure("writing the temporary file");
    }
    next += written;
    left -= written;
  }
  if (::FlushFileBuffers(file.get()) == 0) return failure("flushing the temporary file");
  if (!file.close()) return failure("closing the temporary file");
  if (::MoveFileExA(temporary.get(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return failure("renaming it over the file");
  }
  temporary.keep();
  return std::nullopt;
}

}  // namespace net
