# Writes common/version.h into the build's generated include folder from the project's version
# (the file version) and QUORVEL_PRODUCT_VERSION. A version resource holds each version as four
# 16-bit numbers, so both must have exactly four parts of at most 65535.
function(qv_version_parts version prefix)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "Version \"${version}\" is not four numbers separated by periods")
  endif()
  set(i 0)
  foreach(name MAJOR MINOR PATCH BUILD)
    math(EXPR i "${i} + 1")
    if(CMAKE_MATCH_${i} GREATER 65535)
      message(FATAL_ERROR "Version \"${version}\": ${CMAKE_MATCH_${i}} does not fit a version resource")
    endif()
    set(${prefix}_${name} ${CMAKE_MATCH_${i}} PARENT_SCOPE)
  endforeach()
endfunction()

qv_version_parts("${PROJECT_VERSION}" QV_FILE_VERSION)
qv_version_parts("${QUORVEL_PRODUCT_VERSION}" QV_PRODUCT_VERSION)

# The oldest package version the program installs (a mirror cannot roll users back to an older,
# signed package), and how old a package's signature may be against the program's build time.
set(QUORVEL_MIN_PACKAGE_VERSION "" CACHE STRING
  "Oldest package version the program installs (four numbers; empty: QUORVEL_PRODUCT_VERSION)")
set(QUORVEL_PACKAGE_MAX_AGE_DAYS 0 CACHE STRING
  "Refuse packages signed more than this many days before the program's build time (0: no limit)")
if(QUORVEL_MIN_PACKAGE_VERSION STREQUAL "")
  set(QUORVEL_MIN_PACKAGE_VERSION "${QUORVEL_PRODUCT_VERSION}")
endif()
qv_version_parts("${QUORVEL_MIN_PACKAGE_VERSION}" QV_MIN_PACKAGE_VERSION)
if(NOT QUORVEL_PACKAGE_MAX_AGE_DAYS MATCHES "^[0-9]+$")
  message(FATAL_ERROR "QUORVEL_PACKAGE_MAX_AGE_DAYS is a number of days, not \"${QUORVEL_PACKAGE_MAX_AGE_DAYS}\"")
endif()
# The build time is the commit's (or SOURCE_DATE_EPOCH), never the clock's, so that the program
# stays reproducible; it is only needed for the age limit.
set(QV_PROGRAM_BUILD_TIME 0)
if(QUORVEL_PACKAGE_MAX_AGE_DAYS GREATER 0)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(QV_PROGRAM_BUILD_TIME "$ENV{SOURCE_DATE_EPOCH}")
  else()
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE QV_PROGRAM_BUILD_TIME OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE commit_time_result)
    if(NOT commit_time_result EQUAL 0)
      set(QV_PROGRAM_BUILD_TIME "")
    endif()
  endif()
  if(NOT QV_PROGRAM_BUILD_TIME MATCHES "^[0-9]+$")
    message(FATAL_ERROR "QUORVEL_PACKAGE_MAX_AGE_DAYS needs the build time: set SOURCE_DATE_EPOCH or build from a git checkout")
  endif()
endif()
set(QV_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/common/version.h.in ${QV_GENERATED_INCLUDE_DIR}/common/version.h @ONLY)
