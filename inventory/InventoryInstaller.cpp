#include "firmware/Guids.h"
#include "inventory/Inventory.h"
#include "startup/Startup.h"

EFI_SMBIOS_PROTOCOL *gSmbios = nullptr;

const CHAR16 gNioTypeVariableName[] = u"NioTypeProtected";

namespace {
constexpr UINT32 kNioKindShift = 8;
constexpr UINT32 kNioKindMask = 0xFF;
constexpr UINT32 kFirstOptionFlag = 1u << 0;
constexpr UINT32 kSecondOptionFlag = 1u << 1;
}  // namespace

BOOLEAN SelectVariantCode(UINT32 NioTypeWord, UINT8 *VariantCode) {
  if (NioTypeWord == 0) {
    return false;
  }
  UINT32 Kind = (NioTypeWord >> kNioKindShift) & kNioKindMask;
  if (Kind == 1) {
    // The second option flag means nothing to kind 1.
    *VariantCode = (NioTypeWord & kFirstOptionFlag) != 0 ? 0x11 : 0x01;
    return true;
  }
  if (Kind == 2) {
    *VariantCode = (UINT8)(((NioTypeWord & kFirstOptionFlag) != 0 ? 0x31 : 0x21) +
                           ((NioTypeWord & kSecondOptionFlag) != 0 ? 1 : 0));
    return true;
  }
  return false;
}

const BoardLayout *LayoutForVariant(UINT8 VariantCode) {
  switch (VariantCode) {
    case 0x21:
      return &gLayoutA;
    case 0x22:
    case 0x32:
      return &gLayoutB;
    case 0x31:
      return &gLayoutC;
    default:
      return nullptr;
  }
}

VOID EFIAPI OnEndOfDxe(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;

  UINT32 NioTypeWord = 0;
  UINTN DataSize = sizeof(NioTypeWord);
  EFI_STATUS Status =
      gRuntimeServices->GetVariable(gNioTypeVariableName, &gNioTypeVariableGuid, nullptr, &DataSize, &NioTypeWord);
  if (EFI_ERROR(Status)) {
    return;
  }

  UINT8 VariantCode = 0;
  if (!SelectVariantCode(NioTypeWord, &VariantCode)) {
    return;
  }

  Status = gBootServices->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, (VOID **)&gSmbios);
  if (EFI_ERROR(Status)) {
    return;
  }

  const BoardLayout *Layout = LayoutForVariant(VariantCode);
  if (Layout == nullptr) {
    return;
  }

  InstallPortConnectors(Layout->Connectors, Layout->ConnectorCount);
  InstallSystemSlots(Layout->Slots, Layout->SlotCount);

  gBootServices->CloseEvent(Event);
}
