// The two forms of every reader against each other: the same bytes loaded from a file and
// from memory must give the same pattern, or the same error message. The first input byte
// picks the format.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "fuzz_load.hpp"

namespace {

constexpr std::array<const char*, 6> extensions = {"xy", "xye", "csv", "raw", "xrdml", "rasx"};

struct ScratchFile {
  std::string path;
  int fd = -1;
};

std::string scratch_directory() {
  if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp ? tmp : "/tmp";
}

std::array<ScratchFile, extensions.size()> scratch_files;

void remove_scratch_files() {
  for (const ScratchFile& file : scratch_files) {
    if (file.fd >= 0) unlink(file.path.c_str());
  }
}

// One file per extension, made once and rewritten for every input.
ScratchFile& scratch_file(std::size_t index) {
  ScratchFile& file = scratch_files[index];
  if (file.fd >= 0) return file;
  std::string name = scratch_directory() + "/morvex-fuzz-XXXXXX." + std::string(extensions[index]);
  const int suffix = static_cast<int>(std::string(extensions[index]).size()) + 1;
  file.fd = mkstemps(name.data(), suffix);
  if (file.fd < 0) morvex::fuzz::die("cannot make a scratch file");
  file.path = name;
  static const bool registered = (std::atexit(remove_scratch_files), true);
  (void)registered;
  return file;
}

void write_whole(int fd, std::string_view bytes) {
  if (ftruncate(fd, 0) != 0) morvex::fuzz::die("ftruncate failed");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n <= 0) morvex::fuzz::die("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t index = data[0] % extensions.size();
  const std::string_view bytes = morvex::fuzz::as_view(data + 1, size - 1);
  ScratchFile& file = scratch_file(index);
  write_whole(file.fd, bytes);

  const morvex::LoadResult from_file = morvex::load_path(file.path);
  const morvex::LoadResult from_memory = morvex::load_bytes(bytes, file.path);
  morvex::fuzz::check_pattern_shape(from_file);
  const std::string difference = morvex::fuzz::compare_results(from_file, from_memory);
  if (!difference.empty()) {
    morvex::fuzz::die(std::string("file and slice differ for .") + extensions[index] + ": " +
                      difference);
  }
  return 0;
}
