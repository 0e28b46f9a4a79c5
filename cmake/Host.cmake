# The host build: the driver sources against the simulated firmware, the
# boardinv tool, and the tests.
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)
find_package(GTest REQUIRED)

set(BOARDINV_RUNTIME_DIR ${CMAKE_BINARY_DIR}/bin CACHE PATH "Where boardinv and the test programs go")
set(BOARDINV_EFI_IMAGE ${CMAKE_SOURCE_DIR}/build/efi/BoardInventory.efi CACHE FILEPATH "The target build's image")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${BOARDINV_RUNTIME_DIR})

option(BOARDINV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(BOARDINV_WARNINGS -Wall -Wextra -Werror)
if(BOARDINV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz preset (clang): everything is instrumented for libFuzzer's
# coverage and the sanitizers; the fuzz targets of tests/fuzz alone link
# libFuzzer itself.
option(BOARDINV_FUZZ "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)
if(BOARDINV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The firmware layer's definitions (the GUIDs), built as driver code: the
# driver and the simulated firmware both build on them.
add_library(firmware STATIC ${BOARDINV_FIRMWARE_SOURCES})
target_include_directories(firmware PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(firmware PRIVATE ${BOARDINV_DRIVER_FLAGS} ${BOARDINV_WARNINGS})

# The simulated firmware.
add_library(simfw STATIC
  host/sim/EfiValues.cpp
  host/sim/HardwareModel.cpp
  host/sim/GuardPages.cpp
  host/sim/InputFile.cpp
  host/sim/JsonFields.cpp
  host/sim/PciModel.cpp
  host/sim/Platform.cpp
  host/sim/ServiceLog.cpp
  host/sim/SimFirmware.cpp
  host/sim/SimPool.cpp
  host/sim/SimProtocols.cpp
  host/sim/SimEvents.cpp
  host/sim/SimVariables.cpp
  host/sim/SimSmbios.cpp
  host/sim/SimPcd.cpp
  host/sim/SimDebugPrint.cpp
  host/sim/SimStartupServices.cpp
  host/sim/DebugPrintFormat.cpp
  host/sim/StartupPlatform.cpp
  host/sim/Text.cpp
)
target_include_directories(simfw PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(simfw PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(simfw PUBLIC firmware nlohmann_json::nlohmann_json)

# The driver, exactly the target's sources, built freestanding. It knows
# nothing of the host: the functions of driver/firmware/Hardware.h are left to the
# program that links it, as HardwareX64.cpp supplies them in the image.
add_library(driver STATIC ${BOARDINV_DRIVER_SOURCES})
target_include_directories(driver PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(driver PRIVATE ${BOARDINV_DRIVER_FLAGS} ${BOARDINV_WARNINGS})
target_link_libraries(driver PUBLIC firmware)

# The host's side of driver/firmware/Hardware.h: every access goes to the simulated
# platform's hardware model. A host program links it after the driver
# (bootharness does), so the driver's hardware accesses land in the model.
add_library(hosthardware STATIC host/sim/HostHardware.cpp)
target_compile_options(hosthardware PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(hosthardware PUBLIC simfw)

# The linked-in driver wired to a simulated firmware (host::LinkedDriver):
# its module globals reset to their values at load and its table globals
# pointed at the firmware's tables. Whatever runs driver code in-process
# links it.
add_library(driverharness STATIC
  host/harness/DriverGlobals.cpp
  host/harness/LinkedDriver.cpp
)
target_compile_options(driverharness PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(driverharness PUBLIC driver hosthardware simfw)

# Binary device paths to text, the inverse of the driver's converter, which
# it checks every keyword form against; and the reading of UEFI load
# options. Host code over the driver's devpath layer.
add_library(devtext STATIC
  host/devtext/DeviceText.cpp
  host/devtext/LoadOption.cpp
  host/devtext/NodeValues.cpp
  host/devtext/RowWriters.cpp
)
target_compile_options(devtext PRIVATE ${BOARDINV_WARNINGS})
# The driver leaves driver/firmware/Hardware.h to the program: hosthardware after it.
target_link_libraries(devtext PUBLIC driver hosthardware simfw)

add_library(bootharness STATIC
  host/loader/AddressWindows.cpp
  host/loader/CodeRewriting.cpp
  host/loader/FaultSignals.cpp
  host/loader/InstructionEmulation.cpp
  host/loader/MachineTraps.cpp
  host/loader/RefusedInstructions.cpp
  host/loader/SystemCallFilter.cpp
  host/loader/Watchdog.cpp
  host/loader/PeImage.cpp
  host/loader/X86Decoder.cpp
  host/boot/RunDriver.cpp
  host/boot/DriverImage.cpp
  host/boot/StartupOutcome.cpp
  host/boot/BootOutcome.cpp
  host/boot/SlotProbes.cpp
  host/boot/SkippedWork.cpp
  host/boot/LinkedPaths.cpp
  host/boot/Failures.cpp
  host/boot/Wording.cpp
  host/boot/ReportJson.cpp
  host/boot/ReportText.cpp
  host/boot/SmbiosNames.cpp
)
target_compile_options(bootharness PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(bootharness PUBLIC devtext driverharness driver hosthardware simfw)

# How boardinv ends (its messages, the last resort for an exception), apart
# so that a test can run it with bodies that throw.
add_library(boardinvguard STATIC tools/boardinv/Guard.cpp)
target_compile_options(boardinvguard PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(boardinvguard PUBLIC simfw)

add_executable(boardinv tools/boardinv/main.cpp tools/boardinv/BootCommand.cpp tools/boardinv/DevpathCommand.cpp
               tools/boardinv/DevpathConvert.cpp tools/boardinv/DevpathConverter.cpp tools/boardinv/DevpathExplain.cpp
               tools/boardinv/DevpathHex.cpp tools/boardinv/DevpathInput.cpp tools/boardinv/DevpathJson.cpp
               tools/boardinv/DevpathLoadOption.cpp tools/boardinv/DevpathToText.cpp tools/boardinv/DevpathUtf8.cpp
               tools/boardinv/SweepCommand.cpp)
target_compile_options(boardinv PRIVATE ${BOARDINV_WARNINGS})
target_link_libraries(boardinv PRIVATE boardinvguard devtext bootharness CLI11::CLI11)
target_compile_definitions(boardinv PRIVATE BOARDINV_VERSION="${PROJECT_VERSION}")
# A fault in host code that the loaded image called is reported with the
# function's name, which dladdr finds in the dynamic symbol table.
set_target_properties(boardinv PROPERTIES ENABLE_EXPORTS ON)

enable_testing()
add_subdirectory(tests)
# Benchmarks measure the optimised host build, not the instrumented ones.
if(NOT BOARDINV_SANITIZE AND NOT BOARDINV_FUZZ)
  add_subdirectory(bench)
endif()
