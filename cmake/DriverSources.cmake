# The driver's sources: the same files in the host and the target build.
# First the firmware layer's definitions (the GUIDs), which the host's
# simulated firmware builds on as well, then the driver's own folders.
set(BOARDINV_FIRMWARE_SOURCES
  driver/firmware/Guids.cpp
)
set(BOARDINV_DRIVER_SOURCES
  driver/entry/DriverEntry.cpp
  driver/base/SystemTables.cpp
  driver/base/ConfigurationTable.cpp
  driver/base/Pool.cpp
  driver/base/MemoryPrimitives.cpp
  driver/inventory/BoardLayouts.cpp
  driver/inventory/InventoryInstaller.cpp
  driver/inventory/PortConnectors.cpp
  driver/inventory/RecordStaging.cpp
  driver/inventory/SystemSlots.cpp
  driver/devpath/DevicePathUtilities.cpp
  driver/devpath/TextScanners.cpp
  driver/devpath/TextToDevicePath.cpp
  driver/devpath/NodeTextTable.cpp
  driver/devpath/HardwareAcpiNodes.cpp
  driver/devpath/MediaNodes.cpp
  driver/devpath/MessagingNodes.cpp
  driver/devpath/NetworkNodes.cpp
  driver/platform/ConfigSnapshot.cpp
  driver/platform/DebugBackends.cpp
  driver/platform/DebugMessage.cpp
  driver/platform/FatalStop.cpp
  driver/platform/HeapTransfer.cpp
)

# Target-only pieces: the hardware instructions and what the compiler may
# call on its own where there is no C library.
set(BOARDINV_TARGET_SOURCES
  driver/firmware/HardwareX64.cpp
  driver/base/CompilerIntrinsics.cpp
)

# Flags that keep driver code freestanding in both builds.
set(BOARDINV_DRIVER_FLAGS
  -ffreestanding
  -fno-exceptions
  -fno-rtti
  -fno-threadsafe-statics
  -fno-stack-protector
)

# The most bytes BoardInventory.efi may take; the test efi_image_size_budget
# fails beyond it.
set(BOARDINV_EFI_SIZE_BUDGET 20480)
