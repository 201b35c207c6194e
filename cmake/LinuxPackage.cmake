# Installation of the Linux build and its Debian package (cpack -G DEB).
#
#   /usr/bin/quillon                 -> ../lib/quillon/quillon
#   /usr/lib/quillon/quillon         the updater; its Vadrellix.ini beside it
#   /usr/lib/quillon/Vadrellix.ini   -> /etc/quillon/Vadrellix.ini (a conffile)
#   /usr/bin/{quillon-cmd,qzrtool,zkq870-sim}
#   /usr/lib/udev/rules.d/70-zkq870.rules
#   /usr/share/locale/<lang>/LC_MESSAGES/quillon.mo
#   /usr/share/man/man1/*.1.gz       made from each program's --help
include(GNUInstallDirs)

set(QUILLON_INSTALLED_PROGRAMS quillon-cmd qzrtool zkq870-sim)
foreach(program quillon ${QUILLON_INSTALLED_PROGRAMS})
  if(NOT TARGET ${program})
    message(STATUS "${program} is not built: no installation rules")
    return()
  endif()
endforeach()

install(TARGETS quillon RUNTIME DESTINATION ${QUILLON_PROGRAM_DIR})
install(TARGETS ${QUILLON_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The configuration is read from the program's own folder; the installed
# copy lives in /etc, where the administrator changes it.
install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/Vadrellix.ini
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillon)
file(RELATIVE_PATH bin_to_program
     "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_PREFIX}/${QUILLON_PROGRAM_DIR}")
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(MAKE_DIRECTORY \"\${root}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK \"${bin_to_program}/quillon\" \"\${root}/${CMAKE_INSTALL_BINDIR}/quillon\" SYMBOLIC)
  file(CREATE_LINK \"${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillon/Vadrellix.ini\"
       \"\${root}/${QUILLON_PROGRAM_DIR}/Vadrellix.ini\" SYMBOLIC)
")

install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/70-zkq870.rules
        DESTINATION ${QUILLON_UDEV_RULES_DIR})

foreach(lang ${QUILLON_LANGUAGES})
  install(FILES ${QUILLON_LOCALE_BUILD_DIR}/${lang}/LC_MESSAGES/quillon.mo
          DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${lang}/LC_MESSAGES)
endforeach()

# Manual pages from each program's own --help (help2man), so that they say
# what the program says; in the C locale (with UTF-8), so that they are the
# English ones.
find_program(QUILLON_HELP2MAN help2man REQUIRED)
set(names_quillon "firmware updater for the ZK-Q870 ID-card printer")
set(names_quillon-cmd "console over the ZK-Q870 printer command table")
set(names_qzrtool "inspect, verify and extract ZK-Q870 firmware load files")
set(names_zkq870-sim "virtual ZK-Q870 ID-card printer")
set(man_pages)
foreach(program quillon ${QUILLON_INSTALLED_PROGRAMS})
  set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE= QUILLON_USB_ROOT=
            "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
            ${QUILLON_HELP2MAN} --no-info --no-discard-stderr --section=1 --locale=C.UTF-8
            "--name=${names_${program}}" --version-string=${PROJECT_VERSION}
            --output=${page} ${program}
    COMMAND gzip -9nf ${page}
    DEPENDS ${program}
    COMMENT "Writing the manual page of ${program}")
  list(APPEND man_pages ${page}.gz)
endforeach()
add_custom_target(quillon_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quillon developers <quillon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the ZK-Q870 ID-card printer")
set(CPACK_PACKAGE_DESCRIPTION "Writes the firmware that it carries into a ZK-Q870 ID-card \
printer over USB, keeping the printer's own ST data, and confirms the result. Includes the \
virtual printer, a console over the printer's command table and a load-file inspector.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
configure_file(${PROJECT_SOURCE_DIR}/resources/linux/conffiles.in
               ${PROJECT_BINARY_DIR}/debian/conffiles @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/linux/postinst
               ${PROJECT_BINARY_DIR}/debian/postinst COPYONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/conffiles ${PROJECT_BINARY_DIR}/debian/postinst)
include(CPack)

# The package, unpacked into a scratch root: its files where they belong,
# and the unpacked updater runs (scripts/check-package). Not for sanitizer
# builds, whose programs need their runtime beside them.
if(QUILLON_BUILD_TESTS AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_test(NAME Package.DebInstallsIntoAScratchRoot
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package ${PROJECT_BINARY_DIR})
  set_tests_properties(Package.DebInstallsIntoAScratchRoot PROPERTIES TIMEOUT 120)
endif()
