# The plug-in loader needs the system's dynamic loader.
target_link_libraries(corvane PRIVATE ${CMAKE_DL_LIBS})

# The host version a plug-in is built against, for its pluginVersionOK to compare with the
# running host's appVersion: plug-ins share the host's class layouts, which may change between
# minor versions.
target_compile_definitions(corvane PUBLIC CORVANE_SDK_VERSION="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
