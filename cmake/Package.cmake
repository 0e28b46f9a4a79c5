# The Debian package of boardinv: `cd build/host && cpack -G DEB` builds
# boardinv_<version>_amd64.deb from what `cmake --install` installs, under
# /usr, with the files a Debian package carries beside them (copyright,
# changelog.gz, the manual page gzipped, the program stripped).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boardinv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "BoardInventory developers <boardinv@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "boot a UEFI board inventory driver in a simulated firmware")
set(CPACK_PACKAGE_DESCRIPTION "boardinv runs the board inventory DXE driver in a simulated UEFI firmware
on Linux and reports the SMBIOS records it installs, and converts UEFI
device paths between text and binary with the driver's converter.
The package also carries the driver image BoardInventory.efi, its firmware
file and its symbol map.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps computes Depends from what boardinv links (libc6,
# libstdc++6, libgcc-s1).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Directories the package creates are 0755, files 0644 (programs 0755).
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian's places for the copyright and the changelog, and the manual page
# compressed as Debian wants it: done on the staged tree before it is packed
# (cmake --install alone keeps the page plain).
configure_file(${CMAKE_SOURCE_DIR}/dist/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)

configure_file(${CMAKE_SOURCE_DIR}/cmake/DebianStaging.cmake.in ${CMAKE_BINARY_DIR}/debian/DebianStaging.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/debian/DebianStaging.cmake)

include(CPack)
