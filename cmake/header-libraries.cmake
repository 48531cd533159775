# The header-only libraries of the command line, from Debian's packages
# (libcli11-dev, nlohmann-json3-dev; scripts/install-deps.sh installs them):
# the targets CLI11::CLI11 and nlohmann_json::nlohmann_json.
#
# A native build takes them from their CMake packages. The Windows cross
# build must not see the host's /usr/include (its C library headers would
# shadow mingw-w64's), so the two header trees alone are copied into the
# build tree at configure time and used from there.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  return()
endif()

set(QUILLON_HOST_INCLUDE /usr/include CACHE PATH
    "Where the host's CLI11 and nlohmann/json headers are (for the cross build)")
set(copied ${CMAKE_BINARY_DIR}/host-headers)
foreach(header CLI/CLI.hpp nlohmann/json.hpp)
  if(NOT EXISTS ${QUILLON_HOST_INCLUDE}/${header})
    message(FATAL_ERROR "No ${QUILLON_HOST_INCLUDE}/${header} "
                        "(scripts/install-deps.sh installs libcli11-dev and nlohmann-json3-dev)")
  endif()
endforeach()
file(COPY ${QUILLON_HOST_INCLUDE}/CLI ${QUILLON_HOST_INCLUDE}/nlohmann DESTINATION ${copied})
foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${copied})
endforeach()
