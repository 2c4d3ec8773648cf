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

# Qt's own texts (the buttons of its dialogs) for the languages the setup dialog offers. The
# program uses Qt's base modules alone, so it gets qtbase_<lang>.qm under the name it loads,
# qt_<lang>.qm: Qt's catalogue of that name would only load with every module's file beside it
# (qtmultimedia among them). Where Qt has no qtbase_ file for a language, its qt_ file is the
# full translation (Swedish). The copy is named after the language alone (qt_zh for zh_CN): the
# language table asks for qt_zh, and a locale's name (qt_zh_CN) falls back to it.
get_target_property(corvane_qmake Qt6::qmake IMPORTED_LOCATION)
execute_process(COMMAND ${corvane_qmake} -query QT_INSTALL_TRANSLATIONS
                OUTPUT_VARIABLE corvane_qt_translations OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_DIRECTORY "${corvane_qt_translations}")
  set(corvane_qt_translations /usr/share/qt6/translations)
endif()
set(corvane_qt_qm_copies "")
foreach(lang en sv fr de es zh_CN hi)
  set(qm "")
  if(EXISTS ${corvane_qt_translations}/qtbase_${lang}.qm)
    set(qm ${corvane_qt_translations}/qtbase_${lang}.qm)
  elseif(EXISTS ${corvane_qt_translations}/qt_${lang}.qm)
    set(qm ${corvane_qt_translations}/qt_${lang}.qm)
  endif()
  string(REGEX REPLACE "_.*" "" language ${lang})
  if(qm)
    add_custom_command(OUTPUT ${corvane_lang_dir}/qt_${language}.qm
      COMMAND ${CMAKE_COMMAND} -E make_directory ${corvane_lang_dir}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qm} ${corvane_lang_dir}/qt_${language}.qm
      DEPENDS ${qm}
      VERBATIM)
    list(APPEND corvane_qt_qm_copies ${corvane_lang_dir}/qt_${language}.qm)
  endif()
endforeach()
if(NOT corvane_qt_qm_copies)
  message(WARNING "Qt's own translations were not found in ${corvane_qt_translations}: "
                  "install qt6-translations-l10n; Qt's dialogs will stay in English.")
endif()
add_custom_target(corvane_qt_translations ALL DEPENDS ${corvane_qt_qm_copies})
add_dependencies(corvane corvane_qt_translations)

# lang_DEBUG is a translation for the tests (every text marked), not for users.
set(corvane_installed_qm ${corvane_qt_qm_copies})
foreach(qm ${corvane_qm_files})
  if(NOT qm MATCHES "/lang_DEBUG\\.qm$")
    list(APPEND corvane_installed_qm ${qm})
  endif()
endforeach()
install(FILES ${corvane_installed_qm} DESTINATION ${CORVANE_INSTALL_LANGDIR})
