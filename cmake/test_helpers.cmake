# Test registration shared by every tests/ folder.
#
# qv_add_unit_test(NAME SOURCES... LIBS ...): a GoogleTest program. On the host it runs natively;
# in the Windows builds (win64 and win32) ctest runs it under Wine (CMAKE_CROSSCOMPILING_EMULATOR)
# in the build's own prefix, inside the "wine" fixture that creates the prefix and starts an Xvfb
# display. The i686 programs reach Wine's 32-bit loader through qemu-i386 (scripts/setup).
#
# qv_add_wine_test(NAME COMMAND ...): any other command that uses the build's Wine environment
# (end-to-end tests); it gets the same fixture and runs alone, since all of them share one prefix.

set(QV_WINE_ENV ${PROJECT_SOURCE_DIR}/scripts/wine-env)
set(QV_RUNS_WINE ${WIN32})

function(qv_use_wine_fixture test_name)
  set_tests_properties(${test_name} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wineprefix
    ENVIRONMENT "QV_BUILD_DIR=${CMAKE_BINARY_DIR};QV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

function(qv_add_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qv::gtest)
  target_compile_options(${name} PRIVATE ${QV_WARNINGS})
  if(WIN32)
    if(QV_RUNS_WINE)
      add_test(NAME ${name} COMMAND ${name})
      qv_use_wine_fixture(${name})
    endif()
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()

function(qv_add_wine_test name)
  cmake_parse_arguments(ARG "" "" "COMMAND" ${ARGN})
  if(QV_RUNS_WINE)
    add_test(NAME ${name} COMMAND ${ARG_COMMAND})
    qv_use_wine_fixture(${name})
  endif()
endfunction()

if(QV_RUNS_WINE)
  add_custom_target(wine_prefix ALL COMMAND ${QV_WINE_ENV} prefix ${CMAKE_BINARY_DIR}
    COMMENT "Creating the Wine prefix of this build (once)" VERBATIM)
  add_test(NAME wine_env_start COMMAND ${QV_WINE_ENV} start ${CMAKE_BINARY_DIR})
  add_test(NAME wine_env_stop COMMAND ${QV_WINE_ENV} stop ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_env_start PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wineprefix)
  set_tests_properties(wine_env_stop PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wineprefix)
endif()
