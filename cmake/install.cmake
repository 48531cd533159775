# What `cmake --install` puts where (GNU layout on Linux): the programs, their
# man pages, the bash completion of quillon-flash, the udev rule for the
# printer's USB device, the desktop entry and the icon.
include(GNUInstallDirs)

if(NOT WIN32)
  install(TARGETS quillon-flash quillon-printer-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET quillon)
    install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  # The man pages, written in scdoc (dist/man/*.scd, with the version filled
  # in) and made into roff in the build tree.
  find_program(QUILLON_SCDOC scdoc)
  if(QUILLON_SCDOC)
    set(man_pages)
    set(pages quillon-flash.1 quillon-printer-sim.1)
    if(TARGET quillon)
      list(APPEND pages quillon.1)
    endif()
    foreach(page IN LISTS pages)
      set(source ${PROJECT_SOURCE_DIR}/dist/man/${page}.scd)
      set(configured ${PROJECT_BINARY_DIR}/man/${page}.scd)
      set(output ${PROJECT_BINARY_DIR}/man/${page})
      configure_file(${source} ${configured} @ONLY)
      add_custom_command(OUTPUT ${output}
                         COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" scdoc
                                 ${QUILLON_SCDOC} ${configured} ${output}
                         DEPENDS ${configured}
                         COMMENT "Man page ${page}"
                         VERBATIM)
      list(APPEND man_pages ${output})
    endforeach()
    add_custom_target(man ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "scdoc not found: the man pages are not built")
  endif()

  install(FILES ${PROJECT_SOURCE_DIR}/dist/quillon-flash.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quillon-flash)

  # udev reads its rules from /usr/lib/udev/rules.d (and /lib, /etc), not
  # from under /usr/local: a package (prefix /usr) gets the right place from
  # the default; an install elsewhere can point this at an absolute folder.
  set(QUILLON_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
      "Where the udev rule goes, relative to the install prefix or absolute")
  install(FILES ${PROJECT_SOURCE_DIR}/dist/70-quillon.rules DESTINATION ${QUILLON_UDEV_RULES_DIR})

  if(TARGET quillon)
    install(FILES ${PROJECT_SOURCE_DIR}/dist/quillon.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    # Drawn by res/make_icons.py.
    foreach(size 16 32 48 64 128 256)
      install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quillon-${size}.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
              RENAME quillon.png)
    endforeach()
  endif()
endif()

if(WIN32)
  # The installer and the zip keep the programs at the top of their folder
  # (C:\Program Files\Quillon\Quillon.exe), with the licence beside them.
  install(TARGETS Quillon quillon-flash RUNTIME DESTINATION .)
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt)
endif()
