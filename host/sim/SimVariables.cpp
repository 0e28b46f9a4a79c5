// The variable store behind GetVariable.
#include "host/sim/SimVariables.h"

#include <cstring>

#include "host/sim/EfiValues.h"

namespace sim {

VariableStore::VariableStore(const std::vector<VariableDescription> &variables, ServiceLog &log)
    : variables_(variables), log_(log) {}

const VariableDescription *VariableStore::FindVariable(const std::u16string &name, const EFI_GUID &guid) const {
  for (const VariableDescription &variable : variables_) {
    if (variable.name == name && SameGuid(variable.guid, guid)) {
      return &variable;
    }
  }
  return nullptr;
}

EFI_STATUS VariableStore::GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                                      VOID *data) {
  EFI_STATUS status;
  ServiceCall call{Service::GetVariable, EFI_SUCCESS};
  if (guid != nullptr) {
    call.guid = *guid;
  }
  if (size != nullptr) {
    call.bufferSize = *size;
  }
  if (name == nullptr || guid == nullptr || size == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else {
    std::u16string wanted(name);
    call.variableName = wanted;
    const VariableDescription *variable = FindVariable(wanted, *guid);
    if (variable == nullptr) {
      status = EFI_NOT_FOUND;
    } else if (*size < variable->data.size()) {
      *size = variable->data.size();
      status = EFI_BUFFER_TOO_SMALL;
    } else if (data == nullptr) {
      status = EFI_INVALID_PARAMETER;
    } else {
      if (!variable->data.empty()) {
        std::memcpy(data, variable->data.data(), variable->data.size());
      }
      *size = variable->data.size();
      call.data = variable->data;
      if (attributes != nullptr) {
        *attributes = variable->attributes;
      }
      status = EFI_SUCCESS;
    }
  }
  call.status = status;
  log_.Add(std::move(call));
  return status;
}

}  // namespace sim
