// Reading through a mapping while another program cuts the file short: the read says so and the
// program goes on; a bus error anywhere else still ends the program as it would have.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <vector>

#include "TempDir.h"
#include "recording/BusErrorGuard.h"
#include "recording/MappedFile.h"
#include "recording/ReadOnlyFile.h"

namespace zentrova {
namespace {

std::string WriteBytes(const testing::TempDir& dir, size_t size) {
  const std::string path = dir.file("image.bin");
  std::vector<char> bytes(size, 'z');
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return path;
}

TEST(MappedFile, PagesCutAwayUnderTheMappingFailTheirReadAndTheMappingIsGivenUp) {
  testing::TempDir dir;
  const std::string path = WriteBytes(dir, 64 * 1024);
  const int fd = OpenReadOnly(path);
  ASSERT_GE(fd, 0);
  MappedFile file(fd, 64 * 1024);
  size_t n = 0;
  const uint8_t* span = file.Span(0, 4096, n);
  ASSERT_NE(span, nullptr);
  EXPECT_EQ(n, 64u * 1024);

  ASSERT_EQ(::truncate(path.c_str(), 8192), 0);  // another program cuts it short
  uint8_t out[16] = {};
  EXPECT_TRUE(file.CopyOut(4096, sizeof out, out));
  EXPECT_EQ(out[0], 'z');
  size_t counted = 0;
  auto count = [&] {
    for (size_t i = 0; i < n; ++i) counted += span[i] == 'z';
  };
  EXPECT_FALSE(file.Guarded(count));
  EXPECT_GE(counted, 8192u);
  EXPECT_FALSE(file.usable());
  EXPECT_FALSE(file.CopyOut(0, sizeof out, out));
  EXPECT_EQ(file.Span(0, 4096, n), nullptr);
  ::close(fd);
}

TEST(MappedFile, ABusErrorOutsideAGuardedReadStillEndsTheProgram) {
  testing::TempDir dir;
  const std::string path = WriteBytes(dir, 64 * 1024);
  EXPECT_EXIT(
      {
        ASSERT_TRUE(InstallBusErrorHandler());
        const int fd = OpenReadOnly(path);
        void* p = ::mmap(nullptr, 64 * 1024, PROT_READ, MAP_SHARED, fd, 0);
        ASSERT_NE(p, MAP_FAILED);
        ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
        volatile uint8_t byte = static_cast<const uint8_t*>(p)[32768];
        (void)byte;
        std::exit(0);
      },
      // Killed by SIGBUS, or ended by a sanitizer's own handler: anything but going on.
      [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
}

}  // namespace
}  // namespace zentrova
