# Packages made by cpack from what `cmake --install` installs:
#   Linux:   quillon_<version>_amd64.deb                       (cpack -G DEB)
#   Windows: Quillon-<version>-win64-setup.exe, an NSIS installer, and
#            Quillon-<version>-win64.zip                       (cpack -G "NSIS;ZIP")
# scripts/package.sh builds both and collects them in build/packages.

set(QUILLON_PACKAGE_MAINTAINER "The Quillon developers <quillon@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
set(QUILLON_HOMEPAGE "https://quillon.example.org/"
    CACHE STRING "Project home page named in the packages")

set(CPACK_PACKAGE_NAME "Quillon")
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash download utility for passbook printers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Quillon writes the main firmware (*.mfw), the IPL firmware (*.ipl) or the\n"
       "font set (*.bin) into the flash memory of a passbook printer over a serial\n"
       "line, a parallel port (IEEE 1284) or USB, and checks the CRC-16 of every\n"
       "sector the printer writes.\n"
       "\n"
       "The package holds quillon, the dialog program; quillon-flash, the command\n"
       "line tool; and quillon-printer-sim, an emulated printer on a\n"
       "pseudo-terminal for trying them without a printer.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QUILLON_HOMEPAGE}")
set(CPACK_PACKAGE_CONTACT "${QUILLON_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR "NSIS;ZIP")
  set(CPACK_PACKAGE_FILE_NAME "Quillon-${PROJECT_VERSION}-win64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quillon")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Quillon")
  # The NSIS64 generator alone still writes a 32-bit installer; this target
  # makes it a 64-bit program that installs into the 64-bit Program Files.
  # The uninstaller, which NSIS writes out while it compiles the installer,
  # and then the installer are signed (scripts/sign.sh; unsigned without a
  # certificate).
  # (No quotes: cpack does not pass them through. Neither path may hold a
  # blank.)
  set(_quillon_sign "bash ${PROJECT_SOURCE_DIR}/scripts/sign.sh %1")
  string(CONCAT CPACK_NSIS_DEFINES "Target amd64-unicode\n"
                "!uninstfinalize '${_quillon_sign}' = 0\n" "!finalize '${_quillon_sign}' = 0")
  # The programs are signed in cpack's staging folder, once stripped, before
  # they go into the installer or the zip.
  set(CPACK_QUILLON_SIGN_SCRIPT "${PROJECT_SOURCE_DIR}/scripts/sign.sh")
  set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/packaging/sign-staged.cmake")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_PACKAGE_NAME "Quillon")
  set(CPACK_NSIS_DISPLAY_NAME "Quillon")
  set(CPACK_NSIS_URL_INFO_ABOUT "${QUILLON_HOMEPAGE}")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "Quillon.exe")
  # Off: the installer's question about an installed version has a silent
  # answer, but its "Uninstall failed." box has none and would wait for a
  # click in a silent install. A new version installs over the old one in
  # the same folder.
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
  # The programs sit at the top of the installation folder (cmake/install.cmake).
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
  # A Start-menu shortcut "Quillon" to Quillon.exe; quillon-flash is used from
  # a command prompt.
  set(CPACK_PACKAGE_EXECUTABLES "Quillon" "Quillon")
  set(CPACK_ZIP_COMPONENT_INSTALL OFF)

  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/project-config.cmake.in
                 ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake")
else()
  set(CPACK_GENERATOR "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_PACKAGE_NAME "quillon")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLON_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/packaging/debian/postinst"
                                         "${CMAKE_CURRENT_LIST_DIR}/packaging/debian/postrm")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/packaging/debian/compress-man-pages.cmake")

  # Debian wants the licence as /usr/share/doc/<package>/copyright and the
  # changelog beside it, compressed with gzip -9n; the package has no separate
  # upstream source (its version has no Debian revision), so it is changelog.gz.
  set(_quillon_docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/quillon")
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${_quillon_docdir}" RENAME copyright)
  string(TIMESTAMP QUILLON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/debian/changelog.in
                 ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  execute_process(
    COMMAND gzip -9nf changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian
    RESULT_VARIABLE _quillon_gzip)
  if(NOT _quillon_gzip EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed")
  endif()
  install(FILES "${PROJECT_BINARY_DIR}/debian/changelog.gz" DESTINATION "${_quillon_docdir}")
endif()

include(CPack)
