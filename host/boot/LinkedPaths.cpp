#include "host/boot/LinkedPaths.h"

#include <cstdlib>

#include "driver/base/Memory.h"
#include "driver/base/Tables.h"
#include "driver/devpath/DevicePath.h"
#include "host/devtext/DeviceText.h"

namespace host {

namespace {

EFI_STATUS EFIAPI HostAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  (void)type;
  *buffer = std::malloc(size == 0 ? 1 : size);
  return *buffer != nullptr ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

EFI_STATUS EFIAPI HostFreePool(VOID *buffer) {
  std::free(buffer);
  return EFI_SUCCESS;
}

// For its lifetime the driver's pool is the host's: gBootServices points at
// a table whose only services are AllocatePool and FreePool, and is put
// back afterwards. The driver's refusal count is kept as it was too.
class HostPool {
 public:
  HostPool() : saved_(gBootServices), refusals_(gPoolRefusals) {
    services_.AllocatePool = HostAllocatePool;
    services_.FreePool = HostFreePool;
    gBootServices = &services_;
  }
  ~HostPool() {
    gBootServices = saved_;
    gPoolRefusals = refusals_;
  }
  HostPool(const HostPool &) = delete;
  HostPool &operator=(const HostPool &) = delete;

 private:
  EFI_BOOT_SERVICES services_ = {};
  EFI_BOOT_SERVICES *saved_;
  UINTN refusals_;
};

const devtext::Formatter &LinkedFormatter() {
  static const devtext::Formatter formatter([](const std::u16string &nodeText) {
    const HostPool pool;
    return devtext::LinkedNodeConverter()(nodeText);
  });
  return formatter;
}

}  // namespace

std::optional<std::vector<uint8_t>> LinkedTextToPath(const CHAR16 *text) {
  const HostPool pool;
  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text);
  if (path == nullptr) {
    return std::nullopt;
  }
  const auto *start = reinterpret_cast<const uint8_t *>(path);
  std::vector<uint8_t> bytes(start, start + GetDevicePathSize(path));
  PoolFree(path);
  return bytes;
}

std::string LinkedPathText(const std::vector<uint8_t> &bytes) {
  const devtext::PathText text = LinkedFormatter().Path(bytes.data(), bytes.size());
  return text.Valid() ? text.text : "<" + text.error + ">";
}

}  // namespace host
