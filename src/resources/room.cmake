# The images live in the library, not in the program, so that every plug-in finds them under
# the same resource paths. rcc's generated source registers them from a static initialiser as
# soon as the library is loaded; nobody has to call Q_INIT_RESOURCE.
# The PNGs are painted by tools/artwork (scripts/make-artwork) and committed.
qt_add_resources(corvane_resource_sources ${CMAKE_CURRENT_LIST_DIR}/corvane.qrc)
target_sources(corvane PRIVATE ${corvane_resource_sources})
