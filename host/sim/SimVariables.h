// The simulated variable store behind GetVariable: the platform's
// variables, read-only.
#pragma once

#include <string>
#include <vector>

#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/ServiceLog.h"

namespace sim {

class VariableStore {
 public:
  // Serves variables, which must outlive the store; calls go to log.
  VariableStore(const std::vector<VariableDescription> &variables, ServiceLog &log);
  VariableStore(const VariableStore &) = delete;
  VariableStore &operator=(const VariableStore &) = delete;

  // The runtime service, reached through its EFIAPI thunk.
  EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size, VOID *data);

  // The store's content of a variable, if present.
  const VariableDescription *FindVariable(const std::u16string &name, const EFI_GUID &guid) const;

 private:
  const std::vector<VariableDescription> &variables_;
  ServiceLog &log_;
};

}  // namespace sim
