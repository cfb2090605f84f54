// Replacing a file whole on POSIX: the permissions collectors need whatever
// the umask, and a failed rename that leaves the folder as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "net/file_replace.h"
#include "net/platform.h"

namespace {

class FileReplace : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("corvanite-replace-" + std::to_string(net::processId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  [[nodiscard]] std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder_),
                                                  std::filesystem::directory_iterator()));
  }

  std::filesystem::path folder_;
};

TEST_F(FileReplace, TheNewFileIsReadableByEveryoneWhateverTheUmask) {
  const std::string file = (folder_ / "m.prom").string();
  const mode_t before = ::umask(077);
  const auto failure = net::replaceFileWhole(file, "a 1\n");
  ::umask(before);
  ASSERT_FALSE(failure) << failure->step;
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644U);
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "a 1\n");
}

TEST_F(FileReplace, AFailedRenameLeavesTheTargetAndNoTemporaryFile) {
  // A folder in the file's place: the rename over it fails.
  const auto target = folder_ / "m.prom";
  std::filesystem::create_directories(target / "kept");
  const auto failure = net::replaceFileWhole(target.string(), "a 1\n");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->step, "renaming it over the file");
  EXPECT_NE(failure->code, 0);
  EXPECT_FALSE(failure->message.empty());
  EXPECT_TRUE(std::filesystem::is_directory(target / "kept"));
  EXPECT_EQ(entries(), 1U);
}

TEST_F(FileReplace, AFileInTheWorkingFolderNeedsNoFolderInItsName) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_);
  const auto failure = net::replaceFileWhole("m.prom", "b 2\n");
  std::filesystem::current_path(previous);
  EXPECT_FALSE(failure);
  EXPECT_EQ(std::filesystem::file_size(folder_ / "m.prom"), 4U);
  EXPECT_EQ(entries(), 1U);
}

}  // namespace
