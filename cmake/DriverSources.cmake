# The driver's sources: the same files in the host and the target build.
# First the firmware layer's definitions (the GUIDs), which the host's
# simulated firmware builds on as well, then the driver's own folders.
set(BOARDINV_FIRMWARE_SOURCES
  firmware/Guids.cpp
)
set(BOARDINV_DRIVER_SOURCES
  driver/DriverEntry.cpp
  startup/SystemTables.cpp
  startup/ConfigurationTable.cpp
  startup/Pool.cpp
  startup/MemoryPrimitives.cpp
  inventory/BoardLayouts.cpp
  inventory/InventoryInstaller.cpp
  inventory/PortConnectors.cpp
  inventory/RecordStaging.cpp
  inventory/SystemSlots.cpp
  devpath/DevicePathUtilities.cpp
  devpath/TextScanners.cpp
  devpath/TextToDevicePath.cpp
  devpath/NodeTextTable.cpp
  devpath/HardwareAcpiNodes.cpp
  devpath/MediaNodes.cpp
  devpath/MessagingNodes.cpp
  devpath/NetworkNodes.cpp
  platform/ConfigSnapshot.cpp
  platform/DebugBackends.cpp
  platform/DebugMessage.cpp
  platform/FatalStop.cpp
  platform/HeapTransfer.cpp
)

# Target-only pieces: the hardware instructions and what the compiler may
# call on its own where there is no C library.
set(BOARDINV_TARGET_SOURCES
  firmware/HardwareX64.cpp
  startup/CompilerIntrinsics.cpp
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
