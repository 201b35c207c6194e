# Third-party libraries, all from Debian packages (see README).
if(NOT QUILLON_CORE_ONLY)
  find_package(Threads REQUIRED)
  find_package(CLI11 CONFIG REQUIRED)            # libcli11-dev
  find_package(nlohmann_json 3 CONFIG REQUIRED)  # nlohmann-json3-dev
  if(QUILLON_BUILD_TESTS)
    find_package(GTest REQUIRED)                 # libgtest-dev, libgmock-dev
    include(GoogleTest)
  endif()
endif()
