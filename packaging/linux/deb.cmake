# The Debian package: `cpack -G DEB` in a tree configured with
# -DORVANTIS_DEB_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr (scripts/deb/build.sh).
#
#   /usr/bin/orvantis                  launcher: runs the program in the user's folder
#   /usr/lib/orvantis/orvantis         the program
#   /usr/share/orvantis/               the pictures
#   /usr/share/applications/orvantis.desktop, hicolor icons, man page, copyright

set(pkg ${CMAKE_CURRENT_LIST_DIR})
set(gen ${ORVANTIS_GENERATED_DIR})

install(TARGETS orvantis RUNTIME DESTINATION lib/orvantis)
install(PROGRAMS ${pkg}/orvantis.sh DESTINATION bin RENAME orvantis)
install(FILES ${ORVANTIS_DATA_FILES} DESTINATION share/orvantis)
install(FILES ${pkg}/orvantis.desktop DESTINATION share/applications)
foreach(size ${ORVANTIS_ICON_SIZES})
  install(FILES ${gen}/orvantis-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME orvantis.png)
endforeach()

# Debian wants the man page and the changelog compressed with gzip -9n (no
# name, no time stamp, so the bytes do not depend on the build).
find_program(GZIP gzip REQUIRED)
configure_file(${pkg}/orvantis.1 ${gen}/orvantis.1 @ONLY)
# The package version: the project's, or with the Debian release it was
# built for appended (scripts/deb/build.sh sets it off Debian 12, the release
# the published package is built on). The changelog's entry carries the same.
set(ORVANTIS_DEB_VERSION ${PROJECT_VERSION} CACHE STRING "Version of the Debian package")
file(READ ${pkg}/changelog ORVANTIS_DEB_CHANGELOG)
string(REGEX REPLACE "^orvantis \\([^)]*\\)" "orvantis (${ORVANTIS_DEB_VERSION})"
       ORVANTIS_DEB_CHANGELOG "${ORVANTIS_DEB_CHANGELOG}")
file(WRITE ${gen}/changelog.new "${ORVANTIS_DEB_CHANGELOG}")
configure_file(${gen}/changelog.new ${gen}/changelog COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pkg}/changelog)
foreach(pair "orvantis.1:orvantis.1.gz" "changelog:changelog.gz")
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 in)
  list(GET pair 1 out)
  add_custom_command(OUTPUT ${gen}/${out}
    COMMAND ${GZIP} -9n -c ${gen}/${in} > ${gen}/${out}
    DEPENDS ${gen}/${in})
  list(APPEND ORVANTIS_DEB_GZ ${gen}/${out})
endforeach()
add_custom_target(orvantis_deb_docs ALL DEPENDS ${ORVANTIS_DEB_GZ})
install(FILES ${gen}/orvantis.1.gz DESTINATION share/man/man1)
install(FILES ${pkg}/copyright ${gen}/changelog.gz DESTINATION share/doc/orvantis)

set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME orvantis)
set(CPACK_PACKAGE_VERSION ${ORVANTIS_DEB_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Orvantis developers <orvantis@example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/orvantis")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "slide show remote control from a phone's web browser")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvantis serves a small control page over HTTP on the local network. Its
buttons press Page Down, Page Up or the left mouse button on the PC, so any
slide show program that turns pages with those keys follows, and the page
shows a screenshot of the PC's display. Nothing is installed on the phone.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The data files carry their permissions from the tree; directories get 0755.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
