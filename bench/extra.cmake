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

# bench_trend draws the plug-in's trend and reads recordings back with the plug-in's own classes.
if(TARGET bench_trend AND TARGET flowmeter_models)
  find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
  find_package(QCustomPlotQt6 REQUIRED)
  set(flowmeter_dir ${PROJECT_SOURCE_DIR}/plugins/flowmeter)
  target_sources(bench_trend PRIVATE ${flowmeter_dir}/FlowHistory.cpp ${flowmeter_dir}/RecordReader.cpp
    ${flowmeter_dir}/TrendView.cpp ${flowmeter_dir}/Csv.cpp)
  target_include_directories(bench_trend PRIVATE ${flowmeter_dir})
  target_link_libraries(bench_trend PRIVATE flowmeter_models Qt6::Widgets QCustomPlotQt6::QCustomPlotQt6)
endif()
