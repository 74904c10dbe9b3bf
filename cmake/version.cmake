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
set(QV_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/common/version.h.in ${QV_GENERATED_INCLUDE_DIR}/common/version.h @ONLY)
