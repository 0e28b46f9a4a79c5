#include "host/sim/ServiceLog.h"

#include "host/sim/EfiValues.h"
#include "host/sim/Text.h"

namespace sim {

namespace {

std::string GuidOr(const std::optional<EFI_GUID> &guid, const char *none) {
  return guid ? GuidName(*guid) : none;
}

// A PCI I/O instance's function, by the text of its handle's device path.
std::string FunctionText(const HandleRef &handle, PathNamer paths) {
  return handle.handle != nullptr ? HandleText(handle, paths) : "?";
}

}  // namespace

std::string SmbiosRecordProblemText(const SmbiosRecordProblem &problem) {
  const std::string block = "its pool block (allocation " + std::to_string(problem.allocation) + ", " +
                            Counted(problem.blockSize, "byte", "bytes") + " of " +
                            MemoryTypeWords(problem.memoryType) +
                            (problem.offset != 0 ? ", the record at offset " + std::to_string(problem.offset) : "") +
                            ")";
  switch (problem.kind) {
    case SmbiosRecordProblem::Kind::HeaderOutside:
      return "its 4-byte header runs past the end of " + block;
    case SmbiosRecordProblem::Kind::LengthBelowHeader:
      return "its Length " + Hex(problem.length, 2) + " is below 4, the size of its header";
    case SmbiosRecordProblem::Kind::FormattedAreaOutside:
      return "its formatted area (Length " + Hex(problem.length, 2) + ") runs past the end of " + block;
    case SmbiosRecordProblem::Kind::StringSetUnended:
      return problem.inPool ? "its string set runs past the end of " + block + " without a double zero"
                            : "its string set has no double zero within the " +
                                  Counted(problem.bound, "byte", "bytes") + " read of a record outside the pool";
  }
  return "?";
}

std::string PathBytesText(const std::vector<uint8_t> &path) { return "path " + HexBytes(path); }

std::string HandleText(const HandleRef &handle, PathNamer paths) {
  if (handle.handle == nullptr) {
    return {};
  }
  if (!handle.devicePath.empty()) {
    return paths(handle.devicePath);
  }
  return handle.serial != 0 ? "handle " + std::to_string(handle.serial) : "not a handle";
}

ServiceCallText FormatServiceCall(const ServiceCall &call, PathNamer paths) {
  switch (call.service) {
    case Service::AllocatePool:
      return {"AllocatePool",
              "allocation " + std::to_string(call.allocation) + " (" + Counted(call.size, "byte", "bytes") + " of " +
                  MemoryTypeWords(call.memoryType) + ") refused",
              ""};
    case Service::FreePool:
      return {"FreePool", "a block the pool never gave out", ""};
    case Service::CreateEventEx:
      return {"CreateEventEx", GuidOr(call.guid, "no group"), ""};
    case Service::CloseEvent:
      return {"CloseEvent", "", ""};
    case Service::InstallProtocolInterface:
      return {"InstallProtocolInterface", GuidOr(call.guid, "no GUID"), ""};
    case Service::LocateProtocol:
      return {"LocateProtocol", GuidOr(call.guid, "no GUID"), ""};
    case Service::OpenProtocol:
      return {"OpenProtocol", GuidOr(call.guid, "no GUID"), HandleText(call.handle, paths)};
    case Service::LocateDevicePath: {
      std::string detail = GuidOr(call.guid, "no GUID");
      if (call.devicePath) {
        detail += " for " + paths(*call.devicePath);
      }
      return {"LocateDevicePath", detail, HandleText(call.handle, paths)};
    }
    case Service::GetVariable:
      return {"GetVariable", call.variableName ? Narrow(*call.variableName) : "(null)", ""};
    case Service::SmbiosAdd:
      return {"SMBIOS Add",
              "Type " + std::to_string(call.recordType.value_or(0)) +
                  (call.recordProblem ? ": " + SmbiosRecordProblemText(*call.recordProblem) : ""),
              ""};
    case Service::PciIoGetLocation:
      return {"PciIo.GetLocation", FunctionText(call.handle, paths), ""};
    case Service::PciIoPciRead:
      return {"PciIo.Pci.Read", FunctionText(call.handle, paths) + " offset " + Hex(call.offset), ""};
  }
  return {"?", "", ""};
}

}  // namespace sim
