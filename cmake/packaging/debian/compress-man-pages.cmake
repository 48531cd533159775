# Run by cpack on the files staged for the Debian package, before it packs
# them: Debian ships manual pages compressed with gzip -9n.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(file MATCHES "/share/man/[^/]+/[^/]+$" AND NOT file MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip ${file} failed")
    endif()
  endif()
endforeach()
