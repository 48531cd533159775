# What `cmake --install` puts where (GNU layout on Linux).
include(GNUInstallDirs)

if(NOT WIN32)
  install(TARGETS quillon-flash quillon-printer-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET quillon)
    install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endif()

if(WIN32)
  # The installer and the zip keep the programs at the top of their folder
  # (C:\Program Files\Quillon\Quillon.exe), with the licence beside them.
  install(TARGETS Quillon quillon-flash RUNTIME DESTINATION .)
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt)
endif()
