# The desktop's side of an install (menu entry, icons, AppStream data, manual pages, the
# copyright and changelog a Debian package carries) and the Debian packages made from the
# install by CPack: `cpack -G DEB` in the build folder, or `make package`.
#
#   corvane       the program, host library, plug-ins, translations, simulator (component runtime)
#   corvane-dev   the SDK: headers, the library's link name, the CMake package (component dev)

set(CORVANE_PACKAGE_MAINTAINER "Tessmark AB <corvane@tessmark.se>"
    CACHE STRING "The Maintainer of the Debian packages, \"Name <address>\"")
set(CORVANE_DEB_RELEASE 1 CACHE STRING "The Debian revision of the packages")
set(CORVANE_DEB_VERSION ${PROJECT_VERSION}-${CORVANE_DEB_RELEASE})
set(CORVANE_APP_ID se.tessmark.Corvane)

set(packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})

install(FILES ${packaging}/${CORVANE_APP_ID}.desktop DESTINATION share/applications)
configure_file(${packaging}/${CORVANE_APP_ID}.metainfo.xml.in ${generated}/${CORVANE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${CORVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${packaging}/icons/corvane.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${packaging}/icons/${size}x${size}/corvane.png DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# Debian keeps manual pages and changelogs compressed, without a time stamp in the gzip header
# (-n), so that two builds of the same sources give the same package.
find_program(CORVANE_GZIP gzip REQUIRED)
function(corvane_gzip_copy source target)
  configure_file(${source} ${target} @ONLY)
  execute_process(COMMAND ${CORVANE_GZIP} -9nf ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${target} failed")
  endif()
endfunction()
foreach(page corvane.1 corvane-flowsim.1)
  corvane_gzip_copy(${packaging}/man/${page} ${generated}/man/${page})
  install(FILES ${generated}/man/${page}.gz DESTINATION share/man/man1)
endforeach()

# Service mode: a system unit and a user unit of the same name, where systemd looks for units
# that packages bring (enabled by the administrator, not by the package).
install(FILES ${packaging}/systemd/corvane.service DESTINATION lib/systemd/system)
install(FILES ${packaging}/systemd/user/corvane.service DESTINATION lib/systemd/user)

# The system unit's account, made at install and removed on purge by the maintainer scripts.
install(FILES ${packaging}/sysusers/corvane.conf DESTINATION lib/sysusers.d)

# The README and docs/ with the pictures they show, where Debian keeps a package's documents;
# the manual page sends readers there for the settings keys. The meter models' schema the docs
# name is installed beside the models (/usr/lib/corvane/plugins/models). Left uncompressed, so
# that their links to each other and to the pictures still lead somewhere.
install(FILES README.md DESTINATION share/doc/corvane)
install(DIRECTORY docs/ DESTINATION share/doc/corvane/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# Each package carries its own copyright file and changelog.
foreach(component runtime dev)
  set(CORVANE_PACKAGE_NAME corvane)
  if(component STREQUAL "dev")
    set(CORVANE_PACKAGE_NAME corvane-dev)
  endif()
  set(package ${CORVANE_PACKAGE_NAME})
  corvane_gzip_copy(${packaging}/changelog.in ${generated}/${package}/changelog.Debian)
  install(FILES ${packaging}/copyright ${generated}/${package}/changelog.Debian.gz
    DESTINATION share/doc/${package} COMPONENT ${component})
  install(FILES ${packaging}/${package}.lintian-overrides DESTINATION share/lintian/overrides
    RENAME ${package} COMPONENT ${component})
endforeach()

# CPack. The packages are made from an install to /usr; the version is the project's.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Tessmark AB")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${CORVANE_HOMEPAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL runtime dev)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVANE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time libraries from the binaries themselves; the host library is found beside them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CPACK_PACKAGING_INSTALL_PREFIX}/${CORVANE_INSTALL_LIBDIR})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION electronics)
# Loaded at run time, so no binary names them: Qt's platform plug-ins (xcb, wayland's client
# side, offscreen) come with libqt6gui6, which shlibdeps finds; the fonts Qt draws with come
# through fontconfig. A Wayland session without Qt's Wayland plug-in falls back to X11.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "qt6-wayland")
# The maintainer scripts make and remove the system unit's account: systemd-sysusers where
# systemd is, else adduser (and deluser on purge).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${packaging}/maintainer/postinst ${packaging}/maintainer/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "desktop host for flow-measurement instruments
Corvane is a desktop host for flow-measurement instruments on an RS-485 serial
line. Device plug-ins do its work: it loads them at start, lists them with
their devices in a tree, and shows the selected device's readings, trend and
setup.
.
This package holds the program with its flow-meter plug-in for MODBUS RTU
flow meters, and corvane-flowsim, a simulator of such meters on a
pseudo-terminal for trying the program without hardware.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME corvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "corvane (= ${CORVANE_DEB_VERSION}), qt6-base-dev, cmake (>= 3.25)")
set(CPACK_COMPONENT_DEV_DESCRIPTION "plug-in SDK for the Corvane flow-meter host
Corvane is a desktop host for flow-measurement instruments on an RS-485 serial
line; its device plug-ins are shared libraries it loads at start.
.
This package holds what a plug-in is built with: the host library's headers
and link name, and the CMake package Corvane with corvane_add_plugin().")

include(CPack)
