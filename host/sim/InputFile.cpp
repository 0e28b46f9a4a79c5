#include "host/sim/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

[[noreturn]] void Fail(const std::string &what, const std::string &path, const std::string &reason) {
  // An empty name shows as such.
  throw FileError(what + ": " + (path.empty() ? std::string("\"\"") : path) + ": " + reason);
}

[[noreturn]] void FailErrno(const std::string &what, const std::string &path, int error) {
  Fail(what, path, std::strerror(error));
}

// Closes the descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int Get() const { return fd_; }
  // Closes now and returns close's result.
  int Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

}  // namespace

std::string LimitText(size_t limit) {
  if (limit != 0 && limit % (size_t{1} << 20) == 0) {
    return std::to_string(limit >> 20) + " MiB";
  }
  return std::to_string(limit) + " bytes";
}

std::vector<uint8_t> ReadInputFile(const std::string &what, const std::string &name, size_t limit) {
  // "-" is named for the stream it stands for.
  const std::string path = name == kStandardStream ? "standard input" : name;
  if (path.empty()) {
    Fail(what, path, "an empty file name");
  }
  // A copy of standard input, so that closing it leaves the stream open.
  Descriptor file(name == kStandardStream ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                          : open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    FailErrno(what, path, errno);
  }
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) {
    FailErrno(what, path, errno);
  }
  if (S_ISDIR(status.st_mode)) {
    FailErrno(what, path, EISDIR);
  }
  const std::string overLimit = "larger than the limit of " + LimitText(limit);
  if (S_ISREG(status.st_mode) && static_cast<uint64_t>(status.st_size) > limit) {
    Fail(what, path, overLimit);
  }

  std::vector<uint8_t> bytes;
  if (S_ISREG(status.st_mode)) {
    bytes.reserve(static_cast<size_t>(status.st_size));
  }
  uint8_t buffer[65536];
  for (;;) {
    // One byte past the limit is enough to know the input is too large.
    const size_t wanted = std::min(sizeof(buffer), limit + 1 - bytes.size());
    const ssize_t got = read(file.Get(), buffer, wanted);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      FailErrno(what, path, errno);
    }
    if (got == 0) {
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (bytes.size() > limit) {
      Fail(what, path, overLimit);
    }
  }
  return bytes;
}

void WriteOutputFile(const std::string &what, const std::string &name, const std::vector<uint8_t> &bytes) {
  const std::string path = name == kStandardStream ? "standard output" : name;
  if (path.empty()) {
    Fail(what, path, "an empty file name");
  }
  Descriptor file(name == kStandardStream ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                          : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.Get() < 0) {
    FailErrno(what, path, errno);
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = write(file.Get(), bytes.data() + written, bytes.size() - written);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      FailErrno(what, path, errno);
    }
    if (put == 0) {
      FailErrno(what, path, EIO);
    }
    written += static_cast<size_t>(put);
  }
  if (file.Close() != 0) {
    FailErrno(what, path, errno);
  }
}

}  // namespace sim
