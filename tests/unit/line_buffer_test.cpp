#include "app/line_buffer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Records what reaches it, split where it was flushed: each flush is one
// write of the real stream.
class FlushRecorder : public std::stringbuf {
 public:
  std::vector<std::string> writes;

 protected:
  int sync() override {
    if (!str().empty()) writes.push_back(str());
    str("");
    return 0;
  }
};

TEST(LineBuffer, EachCompleteLineGoesOnInOneWriteAndNothingBeforeItEnds) {
  FlushRecorder target;
  std::ostream out(&target);
  {
    const LineBufferedStream lines(out);
    out << "Test failed:  no "
        << "IGMPv2"
        << " response received";
    EXPECT_TRUE(target.writes.empty()) << "half a line was written";
    out << " from the router\n";
    ASSERT_EQ(target.writes.size(), 1U);
    EXPECT_EQ(target.writes[0], "Test failed:  no IGMPv2 response received from the router\n");
    // Several lines in one piece: one write up to the last line's end.
    out << "one\ntwo\nthr";
    ASSERT_EQ(target.writes.size(), 2U);
    EXPECT_EQ(target.writes[1], "one\ntwo\n");
    out << 'e' << 'e' << '\n';
    ASSERT_EQ(target.writes.size(), 3U);
    EXPECT_EQ(target.writes[2], "three\n");
    // An explicit flush passes on what is there, line or not.
    out << "prompt " << std::flush;
    ASSERT_EQ(target.writes.size(), 4U);
    EXPECT_EQ(target.writes[3], "prompt ");
    out << std::endl << "left over";
  }
  // The end flushes what was left and gives the stream its own buffer back.
  ASSERT_EQ(target.writes.size(), 6U);
  EXPECT_EQ(target.writes[4], "\n");
  EXPECT_EQ(target.writes[5], "left over");
  EXPECT_EQ(out.rdbuf(), &target);
  EXPECT_TRUE(out.good());
}

}  // namespace
