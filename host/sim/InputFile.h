// The files a user names: the inputs read whole (the driver image, its
// symbol map, a platform description, a binary device path), each up to a
// limit, and the outputs written whole (the SMBIOS dump). Failures carry
// the operating system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// A file that cannot be read or written, or an input over its limit. The
// message is one line: "WHAT: PATH: REASON", where REASON is the system's
// text for the error (strerror) or names the limit; an empty PATH shows as
// "".
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The limits of the inputs, in bytes.
constexpr size_t kImageFileLimit = size_t{64} << 20;      // a driver image
constexpr size_t kSymbolMapLimit = size_t{16} << 20;      // the linker's map beside it
constexpr size_t kPlatformFileLimit = size_t{16} << 20;   // a platform description
constexpr size_t kDevicePathFileLimit = size_t{1} << 20;  // a binary device path

// The name that stands for standard input (to ReadInputFile) or standard
// output (to WriteOutputFile).
inline constexpr const char *kStandardStream = "-";

// The whole content of PATH (open, fstat, read); "-" reads standard input
// to its end. An empty PATH is refused. A directory is refused
// with the system's text for EISDIR. A regular file larger than LIMIT is
// refused before it is read; anything else (a pipe, a device) is read up to
// LIMIT + 1 bytes and refused when it gets there. WHAT names the input in
// the message ("platform file").
std::vector<uint8_t> ReadInputFile(const std::string &what, const std::string &path, size_t limit);

// Creates or truncates PATH and writes BYTES to it, checking every write
// and the close; "-" writes to standard output. An empty PATH is refused.
void WriteOutputFile(const std::string &what, const std::string &path, const std::vector<uint8_t> &bytes);

// "16 MiB" for a whole number of MiB, else the number of bytes.
std::string LimitText(size_t limit);

}  // namespace sim
