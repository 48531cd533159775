# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the Windows programs are
# installed, stripped, into its staging folder: signs them with
# scripts/sign.sh before they go into the installer or the zip.
file(GLOB _quillon_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
if(NOT _quillon_programs)
  message(FATAL_ERROR "no programs to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
execute_process(COMMAND bash "${CPACK_QUILLON_SIGN_SCRIPT}" ${_quillon_programs}
                RESULT_VARIABLE _quillon_signed)
if(NOT _quillon_signed EQUAL 0)
  message(FATAL_ERROR "signing the programs failed")
endif()
