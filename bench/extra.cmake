# bench_serial: a libmodbus server and client on pseudo-terminal links made by the test
# support helpers, built in directly so the benchmark does not need the tests to be built.
if(TARGET bench_serial)
  target_sources(bench_serial PRIVATE
    ${CMAKE_SOURCE_DIR}/tests/support/PtyPair.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/PtyLink.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/ModbusRtuServer.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/ModbusCrc.cpp)
  target_include_directories(bench_serial PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_link_libraries(bench_serial PRIVATE PkgConfig::MODBUS)
endif()
# bench_flowmeter: the staged real program and the real simulator, driven as the program tests
# drive them.
if(TARGET bench_flowmeter)
  target_sources(bench_flowmeter PRIVATE
    ${CMAKE_SOURCE_DIR}/tests/support/ProgramRunner.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/ModbusCrc.cpp)
  target_include_directories(bench_flowmeter PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/flowmeter)
  target_link_libraries(bench_flowmeter PRIVATE util)
  foreach(dep corvane-bin flowsim flowmeter)
    if(TARGET ${dep})
      add_dependencies(bench_flowmeter ${dep})
    endif()
  endforeach()
endif()
# bench_reconnect: the window's port registry on a pseudo-terminal made by the test helper.
if(TARGET bench_reconnect)
  target_sources(bench_reconnect PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/PtyPair.cpp)
  target_include_directories(bench_reconnect PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
endif()
