#pragma once
// A scratch folder per test, removed afterwards.
#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace zentrova::testing {

class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "zentrova-";
    name += info ? std::string(info->test_suite_name()) + "-" + info->name() : "test";
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace zentrova::testing
