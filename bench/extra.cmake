# bench_flowmeter and bench_line_rate run the staged real program, the real simulator and the
# flow-meter plug-in, driven as the program tests drive them; bench_line_rate also runs a
# libmodbus master and the host's port at each line rate.
if(TARGET bench_flowmeter)
  target_link_libraries(bench_flowmeter PRIVATE util)
endif()
foreach(bench bench_flowmeter bench_line_rate)
  if(TARGET ${bench})
    foreach(dep corvane-bin flowsim flowmeter)
      if(TARGET ${dep})
        add_dependencies(${bench} ${dep})
      endif()
    endforeach()
  endif()
endforeach()
# bench_alarm_list runs the plug-in's alarm list alone, as the plug-in's GUI thread runs it.
if(TARGET bench_alarm_list AND TARGET flowmeter)
  target_sources(bench_alarm_list PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter/AlarmLog.cpp
    ${PROJECT_SOURCE_DIR}/plugins/flowmeter/AlarmStore.cpp)
  target_include_directories(bench_alarm_list PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter)
endif()
