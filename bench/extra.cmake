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
# bench_line_rate: the simulator at each line rate, a libmodbus master, the host's port and the
# staged program with the flow-meter plug-in.
if(TARGET bench_line_rate)
  foreach(dep corvane-bin flowsim flowmeter)
    if(TARGET ${dep})
      add_dependencies(bench_line_rate ${dep})
    endif()
  endforeach()
endif()
