#include "app/prompt.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

const std::string kPrompt = "\n +> To exit enter 'q' , to re run the test enter 'y' \n";

std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

TEST(Prompt, TakesExactlyYAndQ) {
  for (const auto& [input, expected] :
       {std::pair{"y", NextStep::RunAgain}, std::pair{"q", NextStep::Quit}}) {
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(askWhatNext(in, out), expected);
    EXPECT_EQ(out.str(), kPrompt);
  }
}

TEST(Prompt, AsksAgainForAnyOtherWord) {
  std::istringstream in("Y Q yes quit qq y");
  std::ostringstream out;
  EXPECT_EQ(askWhatNext(in, out), NextStep::RunAgain);
  EXPECT_EQ(out.str(), repeated(kPrompt, 6));
}

TEST(Prompt, ReadsOneWordAtATime) {
  std::istringstream in("y q\n");
  std::ostringstream out;
  EXPECT_EQ(askWhatNext(in, out), NextStep::RunAgain);
  EXPECT_EQ(askWhatNext(in, out), NextStep::Quit);
  EXPECT_EQ(out.str(), repeated(kPrompt, 2));
}

TEST(Prompt, EmptyLinesReadNothing) {
  std::istringstream in("\n\n   \n\tq\n");
  std::ostringstream out;
  EXPECT_EQ(askWhatNext(in, out), NextStep::Quit);
  EXPECT_EQ(out.str(), kPrompt);
}

TEST(Prompt, EndOfInputEndsTheRunInsteadOfAskingForever) {
  std::istringstream in("maybe\n");
  std::ostringstream out;
  EXPECT_EQ(askWhatNext(in, out), NextStep::Quit);
  EXPECT_EQ(out.str(), repeated(kPrompt, 2));

  std::istringstream empty;
  std::ostringstream out2;
  EXPECT_EQ(askWhatNext(empty, out2), NextStep::Quit);
}

TEST(Prompt, UnreadableInputEndsTheRun) {
  std::istringstream in("y");
  in.setstate(std::ios::badbit);
  std::ostringstream out;
  EXPECT_EQ(askWhatNext(in, out), NextStep::Quit);
}

TEST(Prompt, UnwritableOutputEndsTheRunWithoutReading) {
  std::istringstream in("y");
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_EQ(askWhatNext(in, out), NextStep::Quit);
  std::string unread;
  in >> unread;
  EXPECT_EQ(unread, "y");
}

}  // namespace
