// The devpath command's inputs: whole input files within their limits,
// and the notes on standard error about one input.
#include "tools/boardinv/Devpath.h"

#include "host/sim/InputFile.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

void Note(const std::string &where, const std::string &message) { PrintMessage(where + ": " + message); }

Bytes ReadInputOrDie(const std::string &what, const std::string &path, size_t limit) {
  try {
    return sim::ReadInputFile(what, path, limit);
  } catch (const sim::FileError &error) {
    Die(error.what());
  }
}

}  // namespace boardinv::devpath
