# GoogleTest and GoogleMock built from the sources Debian ships in
# /usr/src/googletest (package googletest), for a build that cannot use the
# host's prebuilt libraries (the Windows cross build). Gives the same targets
# as find_package(GTest): GTest::gtest, GTest::gtest_main, GTest::gmock.
set(QUILLON_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${QUILLON_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${QUILLON_GOOGLETEST_SOURCE} "
                      "(scripts/install-deps.sh installs them)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUILLON_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(lib gtest gtest_main gmock gmock_main)
  # Our warning flags are for our code; GoogleTest keeps its own.
  target_compile_options(${lib} PRIVATE -Wno-error)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
