# The build identifier is "g" plus seven hex digits of the source revision, fixed at configure time.
set(STELVANE_BUILD_ID "g0000000")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=7 HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _rev
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _rc)
  if(_rc EQUAL 0 AND _rev MATCHES "^[0-9a-f]+$")
    string(SUBSTRING "${_rev}" 0 7 _rev)
    set(STELVANE_BUILD_ID "g${_rev}")
  endif()
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  set(STELVANE_OS_NAME "macos")
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" STELVANE_OS_NAME)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm64|aarch64|ARM64)$")
  set(STELVANE_ARCH_NAME "aarch64")
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(STELVANE_ARCH_NAME "x86_64")
else()
  set(STELVANE_ARCH_NAME "${CMAKE_SYSTEM_PROCESSOR}")
endif()

configure_file(${PROJECT_SOURCE_DIR}/src/common/version.hpp.in
  ${PROJECT_BINARY_DIR}/generated/common/build_info.hpp @ONLY)
