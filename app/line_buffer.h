// Standard output a line at a time: what is written collects until a line
// ends (or the stream is flushed), then goes on in one write. A reader
// through a pipe sees each line as soon as it is complete, and one write a
// line instead of one for each piece of it.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

class LineBuffer : public std::streambuf {
 public:
  explicit LineBuffer(std::streambuf* target) : target_(target) {}
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  LineBuffer(LineBuffer&&) = delete;
  LineBuffer& operator=(LineBuffer&&) = delete;
  ~LineBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Hands on everything up to and including the last complete line.
  bool passOnLines();

  std::streambuf* target_;
  std::string pending_;
};

// Puts a LineBuffer in front of `stream` for the lifetime of this object and
// restores the stream's own buffer, flushed, at the end.
class LineBufferedStream {
 public:
  explicit LineBufferedStream(std::ostream& stream)
      : stream_(stream), buffer_(stream.rdbuf()), original_(stream.rdbuf(&buffer_)) {}
  LineBufferedStream(const LineBufferedStream&) = delete;
  LineBufferedStream& operator=(const LineBufferedStream&) = delete;
  LineBufferedStream(LineBufferedStream&&) = delete;
  LineBufferedStream& operator=(LineBufferedStream&&) = delete;
  ~LineBufferedStream() {
    stream_.flush();
    stream_.rdbuf(original_);
  }

 private:
  std::ostream& stream_;
  LineBuffer buffer_;
  std::streambuf* original_;
};
