# The terminal front end's catalogues (gettext, Debian's gettext package):
# po/<lang>.po compiled with msgfmt into <build>/frontends/locale, where the
# program finds them beside itself, and the template of every marked text,
# extracted with xgettext, that the translation test compares them with.
find_program(QUILLON_MSGFMT msgfmt REQUIRED)
find_program(QUILLON_XGETTEXT xgettext REQUIRED)
find_program(QUILLON_MSGCMP msgcmp REQUIRED)

set(QUILLON_LANGUAGES ja CACHE INTERNAL "languages of the catalogues")
set(QUILLON_LOCALE_BUILD_DIR ${PROJECT_BINARY_DIR}/frontends/locale CACHE INTERNAL "")
set(QUILLON_POT ${PROJECT_BINARY_DIR}/po/quillon.pot CACHE INTERNAL "template of the texts to translate")

file(GLOB QUILLON_TRANSLATED_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/frontends/terminal/*.cpp)

set(catalogues)
foreach(lang ${QUILLON_LANGUAGES})
  set(mo ${QUILLON_LOCALE_BUILD_DIR}/${lang}/LC_MESSAGES/quillon.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLON_LOCALE_BUILD_DIR}/${lang}/LC_MESSAGES
    COMMAND ${QUILLON_MSGFMT} --check --output-file=${mo} ${PROJECT_SOURCE_DIR}/po/${lang}.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/${lang}.po
    COMMENT "Compiling the ${lang} catalogue")
  list(APPEND catalogues ${mo})
endforeach()

add_custom_command(OUTPUT ${QUILLON_POT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/po
  COMMAND ${QUILLON_XGETTEXT} --from-code=UTF-8 --language=C++ --keyword=_ --keyword=N_
          --add-comments=TRANSLATORS --package-name=quillon --output=${QUILLON_POT}
          ${QUILLON_TRANSLATED_SOURCES}
  DEPENDS ${QUILLON_TRANSLATED_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Extracting the texts to translate")

add_custom_target(quillon_catalogues ALL DEPENDS ${catalogues} ${QUILLON_POT})
