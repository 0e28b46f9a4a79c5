#include "driver/firmware/Guids.h"
#include "driver/inventory/Inventory.h"
#include "driver/base/Tables.h"

EFI_SMBIOS_PROTOCOL *gSmbios = nullptr;

const CHAR16 gNioTypeVariableName[] = u"NioTypeProtected";

// The variant word: the kind in bits 15..8, option flags in bits 1 and 0.
static constexpr UINT32 NIO_KIND_SHIFT = 8;
static constexpr UINT32 NIO_KIND_MASK = 0xFF;
static constexpr UINT32 NIO_KIND_1 = 1;
static constexpr UINT32 NIO_KIND_2 = 2;
static constexpr UINT32 NIO_FIRST_OPTION_FLAG = 1u << 0;
static constexpr UINT32 NIO_SECOND_OPTION_FLAG = 1u << 1;

// Variant codes: the kind in the low digit, the first option flag in the
// high one; the second option flag adds VARIANT_SECOND_OPTION to a kind 2
// code.
static constexpr UINT8 VARIANT_KIND_1 = 0x01;
static constexpr UINT8 VARIANT_KIND_1_FIRST_OPTION = 0x11;
static constexpr UINT8 VARIANT_KIND_2 = 0x21;
static constexpr UINT8 VARIANT_KIND_2_FIRST_OPTION = 0x31;
static constexpr UINT8 VARIANT_SECOND_OPTION = 1;

BOOLEAN SelectVariantCode(UINT32 NioTypeWord, UINT8 *VariantCode) {
  if (NioTypeWord == 0) {
    return FALSE;
  }
  UINT32 Kind = (NioTypeWord >> NIO_KIND_SHIFT) & NIO_KIND_MASK;
  if (Kind == NIO_KIND_1) {
    // The second option flag means nothing to kind 1.
    *VariantCode = (NioTypeWord & NIO_FIRST_OPTION_FLAG) != 0 ? VARIANT_KIND_1_FIRST_OPTION : VARIANT_KIND_1;
    return TRUE;
  }
  if (Kind == NIO_KIND_2) {
    *VariantCode = (UINT8)(((NioTypeWord & NIO_FIRST_OPTION_FLAG) != 0 ? VARIANT_KIND_2_FIRST_OPTION : VARIANT_KIND_2) +
                           ((NioTypeWord & NIO_SECOND_OPTION_FLAG) != 0 ? VARIANT_SECOND_OPTION : 0));
    return TRUE;
  }
  return FALSE;
}

const BoardLayout *LayoutForVariant(UINT8 VariantCode) {
  switch (VariantCode) {
    case VARIANT_KIND_2:
      return &gLayoutA;
    case VARIANT_KIND_2 + VARIANT_SECOND_OPTION:
    case VARIANT_KIND_2_FIRST_OPTION + VARIANT_SECOND_OPTION:
      return &gLayoutB;
    case VARIANT_KIND_2_FIRST_OPTION:
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
