# The build's outside dependencies. Each one that is missing stops the configure with one line
# naming the Debian package that brings it (scripts/install-deps installs them all), instead of
# CMake's page about config files or, worse, a build that quietly leaves parts out.
#
#   corvane_require_qt(<component>...)          find_package(Qt6 COMPONENTS ...)
#   corvane_require_pkg(<prefix> <module> <deb>) pkg_check_modules(<prefix> IMPORTED_TARGET <module>)
#
# The line starts with a blank: CMake then prints it as it is, instead of wrapping it.
#
# Macros, not functions: Qt's and pkg-config's results (Qt6_VERSION_MAJOR, <prefix>_FOUND, ...)
# belong in the caller's scope, as with a plain find_package.

macro(corvane_require_qt)
  foreach(corvane_qt_component ${ARGN})
    if(corvane_qt_component STREQUAL "LinguistTools")
      # The CMake package is in qt6-tools-dev, lrelease itself in qt6-l10n-tools; the package
      # counts as not found without the tool.
      set(corvane_qt_deb "qt6-tools-dev and qt6-l10n-tools")
    elseif(corvane_qt_component MATCHES "^(Core|Gui|Widgets|Test)$")
      set(corvane_qt_deb "qt6-base-dev")
    else()
      message(FATAL_ERROR "corvane_require_qt: no Debian package known for Qt6 ${corvane_qt_component}")
    endif()
    find_package(Qt6 QUIET COMPONENTS ${corvane_qt_component})
    if(NOT Qt6_FOUND OR NOT Qt6${corvane_qt_component}_FOUND)
      if(corvane_qt_deb MATCHES " and ")
        message(FATAL_ERROR " Qt6 ${corvane_qt_component} not found: install the Debian packages ${corvane_qt_deb}")
      else()
        message(FATAL_ERROR " Qt6 ${corvane_qt_component} not found: install the Debian package ${corvane_qt_deb}")
      endif()
    endif()
  endforeach()
endmacro()

macro(corvane_require_pkg prefix module deb)
  if(NOT PKG_CONFIG_FOUND)
    find_package(PkgConfig QUIET)
    if(NOT PKG_CONFIG_FOUND)
      message(FATAL_ERROR " pkg-config not found: install the Debian package pkg-config")
    endif()
  endif()
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
  if(NOT ${prefix}_FOUND)
    message(FATAL_ERROR " ${module} not found: install the Debian package ${deb}")
  endif()
endmacro()
