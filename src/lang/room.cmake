# The host's translations, compiled at build time into lang/ beside the program, together with
# Qt's own translations for the languages the host knows, so that a fresh build runs in place.
corvane_require_qt(LinguistTools)

set(corvane_lang_dir ${CORVANE_BIN_DIR}/lang)
set(corvane_ts_files
  ${CMAKE_CURRENT_LIST_DIR}/lang_en.ts
  ${CMAKE_CURRENT_LIST_DIR}/lang_sv_SE.ts
  ${CMAKE_CURRENT_LIST_DIR}/lang_DEBUG.ts
)
set_source_files_properties(${corvane_ts_files} PROPERTIES OUTPUT_LOCATION ${corvane_lang_dir})
qt_add_lrelease(corvane TS_FILES ${corvane_ts_files} QM_FILES_OUTPUT_VARIABLE corvane_qm_files)

# Qt's catalogue qt_<lang>.qm only names the module files it needs (qtbase_, qtmultimedia_);
# a catalogue loads only when all of them lie beside it, so they are copied together.
get_target_property(corvane_qmake Qt6::qmake IMPORTED_LOCATION)
execute_process(COMMAND ${corvane_qmake} -query QT_INSTALL_TRANSLATIONS
                OUTPUT_VARIABLE corvane_qt_translations OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_DIRECTORY "${corvane_qt_translations}")
  set(corvane_qt_translations /usr/share/qt6/translations)
endif()
set(corvane_qt_qm_files "")
foreach(lang en sv fr de es zh_CN hi)
  foreach(module qt qtbase qtmultimedia)
    set(qm ${corvane_qt_translations}/${module}_${lang}.qm)
    if(EXISTS ${qm})
      list(APPEND corvane_qt_qm_files ${qm})
    endif()
  endforeach()
endforeach()
if(NOT corvane_qt_qm_files)
  message(WARNING "Qt's own translations were not found in ${corvane_qt_translations}: "
                  "install qt6-translations-l10n; Qt's dialogs will stay in English.")
endif()
set(corvane_qt_qm_copies "")
foreach(qm ${corvane_qt_qm_files})
  get_filename_component(name ${qm} NAME)
  add_custom_command(OUTPUT ${corvane_lang_dir}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${corvane_lang_dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qm} ${corvane_lang_dir}/${name}
    DEPENDS ${qm}
    VERBATIM)
  list(APPEND corvane_qt_qm_copies ${corvane_lang_dir}/${name})
endforeach()
add_custom_target(corvane_qt_translations ALL DEPENDS ${corvane_qt_qm_copies})
add_dependencies(corvane corvane_qt_translations)
