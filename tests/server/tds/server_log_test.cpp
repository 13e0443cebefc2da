// The server log stays bounded: past its cap the file rotates to .1, .2 ..., the oldest goes,
// and no line is lost or split between files.
#include "server/tds/server_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const fs::path& p) {
  std::vector<std::string> out;
  std::ifstream in(p);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class ServerLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabsrv-log-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(ServerLogTest, RotatesAtItsCapAndKeepsTheNewestFiles) {
  const fs::path path = dir_ / "server.log";
  const std::string payload(70, 'x');  // about 94 bytes a line with the time stamp
  {
    tabsrv::tds::ServerLog log(path.string(), false, 1000, 2);
    for (int i = 0; i < 100; ++i) log.write("line " + std::to_string(i) + " " + payload);
  }
  ASSERT_TRUE(fs::exists(path));
  EXPECT_TRUE(fs::exists(dir_ / "server.log.1"));
  EXPECT_TRUE(fs::exists(dir_ / "server.log.2"));
  EXPECT_FALSE(fs::exists(dir_ / "server.log.3")) << "only two old files are kept";
  for (const char* name : {"server.log", "server.log.1", "server.log.2"})
    EXPECT_LE(fs::file_size(dir_ / name), 1000u) << name;
  // The newest lines are all there, in order, whole, across the files.
  std::vector<std::string> all;
  for (const char* name : {"server.log.2", "server.log.1", "server.log"})
    for (auto& l : lines(dir_ / name)) all.push_back(l);
  ASSERT_FALSE(all.empty());
  EXPECT_NE(all.back().find("line 99 " + payload), std::string::npos);
  for (size_t i = 1; i < all.size(); ++i) {
    auto number = [](const std::string& l) { return std::stoi(l.substr(l.find("line ") + 5)); };
    EXPECT_EQ(number(all[i]), number(all[i - 1]) + 1) << all[i];
  }
}

TEST_F(ServerLogTest, ReopenedLogCountsWhatIsAlreadyThere) {
  const fs::path path = dir_ / "server.log";
  { std::ofstream(path) << std::string(900, 'o') << "\n"; }
  {
    tabsrv::tds::ServerLog log(path.string(), false, 1000, 3);
    log.write(std::string(200, 'n'));
  }
  EXPECT_TRUE(fs::exists(dir_ / "server.log.1")) << "the existing 901 bytes count toward the cap";
  EXPECT_EQ(lines(dir_ / "server.log").size(), 1u);
}

}  // namespace
