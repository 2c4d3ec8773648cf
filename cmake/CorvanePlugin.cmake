# corvane_add_plugin(<name> SOURCES <file>... [OUTPUT_DIRECTORY <dir>] [INSTALL])
#
# Builds <name>.plg, a module library linked to the Corvane host library, with moc run on its
# sources. The file lands in OUTPUT_DIRECTORY when given; otherwise, inside the Corvane source
# tree, in the plugins folder beside the freshly built program, and elsewhere in the current
# binary folder. INSTALL puts it in the plugins folder beside the installed program.
#
# The same function serves the host's own plug-ins and those built against an installed SDK.
function(corvane_add_plugin name)
  cmake_parse_arguments(P "INSTALL" "OUTPUT_DIRECTORY" "SOURCES" ${ARGN})
  if(NOT P_SOURCES)
    message(FATAL_ERROR "corvane_add_plugin(${name}): no SOURCES given")
  endif()

  add_library(${name} MODULE ${P_SOURCES})
  if(TARGET Corvane::corvane)
    target_link_libraries(${name} PRIVATE Corvane::corvane)
  else()
    target_link_libraries(${name} PRIVATE corvane)
  endif()
  target_compile_features(${name} PRIVATE cxx_std_17)

  if(P_OUTPUT_DIRECTORY)
    set(out_dir ${P_OUTPUT_DIRECTORY})
  elseif(DEFINED CORVANE_BIN_DIR)
    set(out_dir ${CORVANE_BIN_DIR}/plugins)
  else()
    set(out_dir ${CMAKE_CURRENT_BINARY_DIR})
  endif()

  # The host looks for *.plg files and finds its own library already loaded, so the plug-in
  # needs no search path; the one given lets tools such as ldd resolve it once installed.
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".plg"
    AUTOMOC ON
    LIBRARY_OUTPUT_DIRECTORY ${out_dir}
    INSTALL_RPATH "$ORIGIN/..")

  if(P_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION ${CORVANE_PLUGIN_INSTALL_DIR})
  endif()
endfunction()
