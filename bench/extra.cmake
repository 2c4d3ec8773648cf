# bench_flowmeter and bench_line_rate run the staged real program, the real simulator and the
# flow-meter plug-in, driven as the program tests drive them; bench_line_rate also runs a
# libmodbus master and the host's port at each line rate; bench_recorder records 64 of them.
if(TARGET bench_flowmeter)
  target_link_libraries(bench_flowmeter PRIVATE util)
endif()
foreach(bench bench_flowmeter bench_line_rate bench_recorder)
  if(TARGET ${bench})
    foreach(dep corvane-bin flowsim flowmeter)
      if(TARGET ${dep})
        add_dependencies(${bench} ${dep})
      endif()
    endforeach()
  endif()
endforeach()
