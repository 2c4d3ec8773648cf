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

# bench_mqtt: the MQTT link against a mosquitto broker it starts itself.
if(TARGET bench_mqtt)
  target_link_libraries(bench_mqtt PRIVATE flowmeter_mqtt)
endif()
