# The two files Debian wants beside every packaged program in /usr/share/doc/tarnel: the
# copyright file, in Debian's machine-readable format and made from LICENSE, and the package's
# changelog. Only the Debian package carries them (component "debian"); a plain
# "cmake --install" installs LICENSE instead. Needs CPACK_DEBIAN_PACKAGE_MAINTAINER and
# CPACK_DEBIAN_PACKAGE_RELEASE.

file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(REGEX MATCH "\nCopyright \\(c\\) ([^\n]+)" notice "${licence}")
set(copyright_holders "${CMAKE_MATCH_1}")
string(FIND "${licence}" "Permission is hereby granted" terms_start)
if(NOT notice OR terms_start EQUAL -1)
  message(FATAL_ERROR "LICENSE no longer reads as the MIT licence; see ${CMAKE_CURRENT_LIST_FILE}")
endif()
string(SUBSTRING "${licence}" ${terms_start} -1 licence_terms)
string(STRIP "${licence_terms}" licence_terms)
# Every line of a licence text is indented by one blank, and an empty line is written as a dot.
string(REPLACE "\n\n" "\n.\n" licence_terms "${licence_terms}")
string(REPLACE "\n" "\n " licence_terms " ${licence_terms}")
# Debian calls the MIT licence of this wording "Expat".
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/debian/copyright" @ONLY CONTENT
[[Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tarnel
Upstream-Contact: @CPACK_DEBIAN_PACKAGE_MAINTAINER@

Files: *
Copyright: @copyright_holders@
License: Expat
@licence_terms@
]])

# Dated when the build is configured, or at SOURCE_DATE_EPOCH when that is set, as for
# reproducible builds.
string(TIMESTAMP package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/debian/changelog.Debian" @ONLY CONTENT
[[tarnel (@PROJECT_VERSION@-@CPACK_DEBIAN_PACKAGE_RELEASE@) unstable; urgency=medium

  * Packaged with CPack from the tarnel @PROJECT_VERSION@ sources.

 -- @CPACK_DEBIAN_PACKAGE_MAINTAINER@  @package_date@
]])

install(FILES "${PROJECT_BINARY_DIR}/debian/copyright" DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT debian EXCLUDE_FROM_ALL)
install_gzipped("${PROJECT_BINARY_DIR}/debian/changelog.Debian" ${CMAKE_INSTALL_DOCDIR}
                COMPONENT debian EXCLUDE_FROM_ALL)
