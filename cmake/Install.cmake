# What `cmake --install build/host --prefix PREFIX` puts where a Linux tool
# goes: boardinv, its manual page and bash completion, and the target
# build's files (the image, its firmware file and its symbol map, which
# `boot --efi` reads beside the image) under share/boardinv.
include(GNUInstallDirs)

install(TARGETS boardinv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/boardinv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/dist/boardinv.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME boardinv)

# The image comes from the other build (the efi preset), beside
# BOARDINV_EFI_IMAGE; the host build does not make it. Whichever of the three
# files is there when installing is installed: build the efi preset first
# (as the tests need anyway) to have all three.
get_filename_component(BOARDINV_EFI_OUTPUT_DIR ${BOARDINV_EFI_IMAGE} DIRECTORY)
install(FILES ${BOARDINV_EFI_OUTPUT_DIR}/BoardInventory.efi
              ${BOARDINV_EFI_OUTPUT_DIR}/BoardInventory.ffs
              ${BOARDINV_EFI_OUTPUT_DIR}/BoardInventory.map
        DESTINATION ${CMAKE_INSTALL_DATADIR}/boardinv OPTIONAL)
# The README, which the manual page points to for the platform description.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/boardinv)
