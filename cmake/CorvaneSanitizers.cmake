# Sanitizer builds for CI: CORVANE_SANITIZE is empty, "address,undefined" or "thread".
if(CORVANE_SANITIZE)
  string(REPLACE ";" "," _corvane_san "${CORVANE_SANITIZE}")
  add_compile_options(-fsanitize=${_corvane_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_corvane_san})
endif()
