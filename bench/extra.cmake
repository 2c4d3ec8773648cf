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
