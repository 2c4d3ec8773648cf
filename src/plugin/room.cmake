# The plug-in loader needs the system's dynamic loader.
target_link_libraries(corvane PRIVATE ${CMAKE_DL_LIBS})
