# Cross-compiles the driver for the UEFI target: x86-64 code in the
# Microsoft x64 ABI, packaged as a PE32+ image by lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(BOARDINV_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(BOARDINV_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

set(CMAKE_CXX_COMPILER ${BOARDINV_CLANGXX})
# The image is linked by a custom command; compiler checks build objects only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(BOARDINV_TARGET efi CACHE STRING "" FORCE)
