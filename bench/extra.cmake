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
# bench_recording writes the FM-2i's rows through the plug-in's own record files.
if(TARGET bench_recording AND TARGET flowmeter_models)
  set(flowmeter_dir ${PROJECT_SOURCE_DIR}/plugins/flowmeter)
  target_sources(bench_recording PRIVATE ${flowmeter_dir}/RecordFile.cpp ${flowmeter_dir}/Csv.cpp)
  target_link_libraries(bench_recording PRIVATE flowmeter_models)
  target_compile_definitions(bench_recording PRIVATE FLOWMETER_SOURCE_DIR="${flowmeter_dir}")
endif()

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

# bench_alarm_list runs the plug-in's alarm list alone, as the plug-in's GUI thread runs it.
if(TARGET bench_alarm_list AND TARGET flowmeter)
  target_sources(bench_alarm_list PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter/AlarmLog.cpp
    ${PROJECT_SOURCE_DIR}/plugins/flowmeter/AlarmStore.cpp ${PROJECT_SOURCE_DIR}/plugins/flowmeter/FolderLock.cpp
    ${PROJECT_SOURCE_DIR}/plugins/flowmeter/FlowTrend.cpp)
  target_include_directories(bench_alarm_list PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter)
  target_link_libraries(bench_alarm_list PRIVATE flowmeter_models)
endif()

# bench_mqtt: the MQTT link against a mosquitto broker it starts itself.
if(TARGET bench_mqtt)
  target_link_libraries(bench_mqtt PRIVATE flowmeter_mqtt)
  target_compile_definitions(bench_mqtt PRIVATE FLOWMETER_SOURCE_DIR="${PROJECT_SOURCE_DIR}/plugins/flowmeter")
endif()

# bench_values_view: the meter's value view alone, as the information page holds it.
if(TARGET bench_values_view AND TARGET flowmeter_mqtt)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  target_sources(bench_values_view PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter/MeterValuesView.cpp)
  target_include_directories(bench_values_view PRIVATE ${PROJECT_SOURCE_DIR}/plugins/flowmeter)
  target_link_libraries(bench_values_view PRIVATE flowmeter_mqtt Qt6::Widgets)
endif()
