# BoardInventory.efi: PE32+, AMD64, EFI boot-service driver, entry
# DriverEntry, relocatable from ImageBase 0, NX-compatible, 4 KiB sections,
# no imports, byte-identical from build to build; and BoardInventory.ffs,
# the same image as a firmware file.
add_library(BoardInventoryObjects OBJECT ${BOARDINV_FIRMWARE_SOURCES} ${BOARDINV_DRIVER_SOURCES}
            ${BOARDINV_TARGET_SOURCES})
target_include_directories(BoardInventoryObjects PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(BoardInventoryObjects PRIVATE
  ${BOARDINV_DRIVER_FLAGS}
  --target=x86_64-unknown-windows
  -nostdlibinc
  -mno-red-zone
  -mno-stack-arg-probe
  -mgeneral-regs-only
  -fno-asynchronous-unwind-tables
  -fno-unwind-tables
  -ffunction-sections
  -fdata-sections
  -fshort-wchar
  -Oz
  # No jump tables: clang would place them in .text, between functions,
  # where the host's code walk (and any disassembler) would read them as
  # instructions.
  -fno-jump-tables
  -Wall -Wextra -Werror
)

find_program(BOARDINV_PYTHON3 NAMES python3 REQUIRED)
set(BOARDINV_EFI_IMAGE ${CMAKE_BINARY_DIR}/BoardInventory.efi)
# The symbol map beside the image lets the host's loader find the driver's
# module globals for its reports; the image itself does not change.
set(BOARDINV_EFI_MAP ${CMAKE_BINARY_DIR}/BoardInventory.map)
add_custom_command(
  OUTPUT ${BOARDINV_EFI_IMAGE} ${BOARDINV_EFI_MAP}
  COMMAND ${BOARDINV_LLD_LINK}
    /nologo
    /machine:x64
    /subsystem:efi_boot_service_driver
    /entry:DriverEntry
    /nodefaultlib
    /base:0
    /dynamicbase
    /nxcompat
    /Brepro
    /debug:none
    /opt:ref
    /opt:icf
    /map:${BOARDINV_EFI_MAP}
    /out:${BOARDINV_EFI_IMAGE}
    $<TARGET_OBJECTS:BoardInventoryObjects>
  # Without the DOS program the headers fit in one 512-byte block.
  COMMAND ${BOARDINV_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/drop-dos-program.py ${BOARDINV_EFI_IMAGE}
  DEPENDS BoardInventoryObjects $<TARGET_OBJECTS:BoardInventoryObjects> ${CMAKE_SOURCE_DIR}/scripts/drop-dos-program.py
  COMMAND_EXPAND_LISTS
  VERBATIM
  COMMENT "Linking BoardInventory.efi")
add_custom_target(BoardInventoryEfi ALL DEPENDS ${BOARDINV_EFI_IMAGE})

# BoardInventory.ffs: the image as the firmware file integrators put into a
# firmware volume (a DXE driver file holding a PE32 section and a
# user-interface section; the layout is described in scripts/make-ffs.py).
set(BOARDINV_EFI_FFS ${CMAKE_BINARY_DIR}/BoardInventory.ffs)
add_custom_command(
  OUTPUT ${BOARDINV_EFI_FFS}
  COMMAND ${BOARDINV_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/make-ffs.py ${BOARDINV_EFI_IMAGE} ${BOARDINV_EFI_FFS}
  DEPENDS ${BOARDINV_EFI_IMAGE} ${CMAKE_SOURCE_DIR}/scripts/make-ffs.py
  VERBATIM
  COMMENT "Packing BoardInventory.ffs")
add_custom_target(BoardInventoryFfs ALL DEPENDS ${BOARDINV_EFI_FFS})
