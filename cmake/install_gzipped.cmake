# install_gzipped(FILE DESTINATION [install() options such as COMPONENT ...])
#
# Installs FILE compressed, as DESTINATION/<name of FILE>.gz, the way Debian wants manual pages
# and changelogs: at the highest level and with neither a name nor a time in the gzip header
# (gzip -9n), so that the same text always gives the same bytes. The compression runs at install
# time: building tarnel needs nothing beyond the compiler and zlib. Where no gzip program is
# found, CMake's own compressor serves, whose header carries the time of the install.
function(install_gzipped file destination)
  get_filename_component(name "${file}" NAME)
  set(compressed "${PROJECT_BINARY_DIR}/gzipped/${name}.gz")
  set(code [[
    file(MAKE_DIRECTORY "@PROJECT_BINARY_DIR@/gzipped")
    # A root-owned copy left by an earlier "sudo cmake --install" is replaced, not written into.
    file(REMOVE "@compressed@")
    find_program(tarnel_gzip gzip)
    if(tarnel_gzip)
      execute_process(COMMAND "${tarnel_gzip}" -9 -n -c "@file@" OUTPUT_FILE "@compressed@"
                      RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip -9 -n @file@: ${status}")
      endif()
    else()
      file(ARCHIVE_CREATE OUTPUT "@compressed@" PATHS "@file@" FORMAT raw COMPRESSION GZip
           COMPRESSION_LEVEL 9)
    endif()
  ]])
  string(CONFIGURE "${code}" code @ONLY)
  install(CODE "${code}" ${ARGN})
  install(FILES "${compressed}" DESTINATION "${destination}" ${ARGN})
endfunction()
