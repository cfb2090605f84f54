#include "app/line_buffer.h"

LineBuffer::int_type LineBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  pending_.push_back(traits_type::to_char_type(c));
  if (traits_type::to_char_type(c) == '\n' && !passOnLines()) return traits_type::eof();
  return c;
}

std::streamsize LineBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  if (pending_.find('\n', pending_.size() - static_cast<std::size_t>(count)) != std::string::npos &&
      !passOnLines()) {
    return 0;
  }
  return count;
}

bool LineBuffer::passOnLines() {
  const std::size_t end = pending_.rfind('\n') + 1;
  const auto length = static_cast<std::streamsize>(end);
  const bool written = target_->sputn(pending_.data(), length) == length;
  pending_.erase(0, end);
  return written && target_->pubsync() == 0;
}

int LineBuffer::sync() {
  if (!pending_.empty()) {
    const auto length = static_cast<std::streamsize>(pending_.size());
    const bool written = target_->sputn(pending_.data(), length) == length;
    pending_.clear();
    if (!written) return -1;
  }
  return target_->pubsync();
}
