// Instruction rewriting (internal to host/loader; CodeRewriting.cpp).
#pragma once

#include <vector>

#include "host/loader/MachineTraps.h"

namespace loader::traps {

// Writes ud2 over the opcode of each site in the mapped code (over the
// first two bytes of an instruction that reaches the thread pointer),
// opening each page for writing only while it is written.
void RewriteSites(const PeImage &file, MappedImage &image, const std::vector<RewrittenSite> &sites);

}  // namespace loader::traps
