# What `cmake --install` puts where (GNU layout on Linux).
include(GNUInstallDirs)

if(NOT WIN32)
  install(TARGETS quillon-flash quillon-printer-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET quillon)
    install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endif()
