# bench_flowmeter: the staged real program and the real simulator, driven as the program tests
# drive them.
if(TARGET bench_flowmeter)
  target_link_libraries(bench_flowmeter PRIVATE util)
  foreach(dep corvane-bin flowsim flowmeter)
    if(TARGET ${dep})
      add_dependencies(bench_flowmeter ${dep})
    endif()
  endforeach()
endif()
# bench_line_rate: the simulator at each line rate and a libmodbus master.
if(TARGET bench_line_rate AND TARGET flowsim)
  add_dependencies(bench_line_rate flowsim)
endif()
