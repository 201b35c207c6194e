# The release zip of the Windows program (cpack, or the `package` target):
#   quillon-<version>-windows-<arch>/quillon.exe
#                                   /Vadrellix.ini   sample, UTF-16 LE with BOM
#                                   /README.txt      for technicians, Japanese, UTF-8 with BOM
# The two texts are written at build time from their UTF-8 sources in
# resources/package/ (reviewable as text; Windows tools read the BOM).
# Only Windows builds package this way; Linux packaging lives elsewhere.
if(NOT WIN32 OR NOT TARGET quillon)
  return()
endif()

set(package_dir ${CMAKE_BINARY_DIR}/package)
set(sample_config ${package_dir}/Vadrellix.ini)
set(technician_readme ${package_dir}/README.txt)
add_custom_command(
  OUTPUT ${sample_config}
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/resources/package/Vadrellix.ini
          -DTARGET=${sample_config} -DENCODING=UTF-16LE -P ${PROJECT_SOURCE_DIR}/cmake/WindowsText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/package/Vadrellix.ini
          ${PROJECT_SOURCE_DIR}/cmake/WindowsText.cmake
  COMMENT "Writing the sample Vadrellix.ini (UTF-16)"
  VERBATIM)
add_custom_command(
  OUTPUT ${technician_readme}
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/resources/package/README.txt
          -DTARGET=${technician_readme} -DENCODING=UTF-8 -P ${PROJECT_SOURCE_DIR}/cmake/WindowsText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/package/README.txt
          ${PROJECT_SOURCE_DIR}/cmake/WindowsText.cmake
  COMMENT "Writing README.txt for technicians"
  VERBATIM)
add_custom_target(quillon_package_files ALL DEPENDS ${sample_config} ${technician_readme})
set_property(GLOBAL PROPERTY QUILLON_SAMPLE_CONFIG ${sample_config})

install(TARGETS quillon RUNTIME DESTINATION . COMPONENT quillon)
install(FILES ${sample_config} ${technician_readme} DESTINATION . COMPONENT quillon)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(package_arch x64)
else()
  set(package_arch x86)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quillon-${PROJECT_VERSION}-windows-${package_arch})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Only the program's own files: nothing else that a build may install.
set(CPACK_COMPONENTS_ALL quillon)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
