# Third-party libraries, all from Debian packages (see README).
if(QUILLON_CORE_ONLY)
  return()
endif()

find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(CLI11 CONFIG REQUIRED)            # libcli11-dev
  find_package(nlohmann_json 3 CONFIG REQUIRED)  # nlohmann-json3-dev
  if(QUILLON_BUILD_TESTS)
    find_package(GTest REQUIRED)                 # libgtest-dev, libgmock-dev
    include(GoogleTest)
  endif()
  return()
endif()

# Windows cross builds. The header-only packages live in the host's
# /usr/include, which must never reach a Windows compile: their headers are
# copied into the build folder and offered from there alone.
function(quillon_header_only_package target header_dir)
  set(dest ${CMAKE_BINARY_DIR}/_deps/${target}/include)
  get_filename_component(name ${header_dir} NAME)
  if(NOT EXISTS ${header_dir})
    message(FATAL_ERROR "${header_dir} is missing (scripts/install-deps installs it)")
  endif()
  file(COPY ${header_dir} DESTINATION ${dest})
  string(REPLACE "::" "_" lib ${target})
  add_library(${lib} INTERFACE)
  target_include_directories(${lib} SYSTEM INTERFACE ${dest})
  add_library(${target} ALIAS ${lib})
endfunction()
quillon_header_only_package(CLI11::CLI11 /usr/include/CLI)                     # libcli11-dev
quillon_header_only_package(nlohmann_json::nlohmann_json /usr/include/nlohmann)  # nlohmann-json3-dev

if(QUILLON_BUILD_TESTS)
  # GoogleTest from Debian's source package (googletest), built with the
  # cross compiler. Its targets bring their GTest:: aliases.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
  # The test programs run under wine: their tests are listed when CTest
  # runs, not while building.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
