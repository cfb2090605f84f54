// Replacing a file whole, for readers that may open it at any moment (a
// metrics collector): they see the old contents or the new, never a part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace net {

// Why a replacement failed: the step, the platform's error number and its text.
struct FileReplaceError {
  std::string step;
  int code = 0;
  std::string message;
};

// Writes `contents` to a new file in the folder of `path` (a hidden name that
// does not end like `path`), flushes it to the disk, makes it readable by
// everyone and writable by its owner (0644), then renames it over `path`. On
// a failure, or if the process dies on the way, `path` keeps what it held.
std::optional<FileReplaceError> replaceFileWhole(const std::string& path,
                                                 std::string_view contents);

}  // namespace net
