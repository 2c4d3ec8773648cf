# Sanitizer builds for CI: CORVANE_SANITIZE is empty, "address,undefined" or "thread".
if(CORVANE_SANITIZE)
  string(REPLACE ";" "," _corvane_san "${CORVANE_SANITIZE}")
  add_compile_options(-fsanitize=${_corvane_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_corvane_san})
  # These builds find faults, they are not for speed: -O1, as the sanitizers' authors advise,
  # and line tables only still give each report its functions, files and lines, and compile in
  # half the time of -O2 with full debugging information.
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
endif()
