# The codec libraries and the option parser, wired the same way for every preset:
#   qv::zlib     zlib (host: the system library; Windows: Debian's libz-mingw-w64-dev)
#   qv::bzip2    libbzip2 (host: the system library; Windows: compiled from Debian's sources)
#   qv::lzmadec  the LZMA SDK decoder, compiled from Debian's lzma-dev sources
#   qv::cxxopts  the single cxxopts header, copied so no build searches /usr/include wholesale

set(QV_TP_DIR ${CMAKE_BINARY_DIR}/third_party)

# cxxopts
file(MAKE_DIRECTORY ${QV_TP_DIR}/cxxopts)
configure_file(/usr/include/cxxopts.hpp ${QV_TP_DIR}/cxxopts/cxxopts.hpp COPYONLY)
add_library(qv_cxxopts INTERFACE)
target_include_directories(qv_cxxopts SYSTEM INTERFACE ${QV_TP_DIR}/cxxopts)
add_library(qv::cxxopts ALIAS qv_cxxopts)

# zlib. The Windows programs link the static archive by its path: CMake's lookup prefers the
# import library of zlib1.dll, a DLL that no Windows carries.
if(WIN32)
  set(QV_ZLIB_ARCHIVE /usr/${QV_MINGW_TRIPLE}/lib/libz.a)
  if(NOT EXISTS ${QV_ZLIB_ARCHIVE})
    message(FATAL_ERROR "static zlib missing (${QV_ZLIB_ARCHIVE}): run scripts/setup first")
  endif()
  add_library(qv_zlib STATIC IMPORTED)
  set_target_properties(qv_zlib PROPERTIES IMPORTED_LOCATION ${QV_ZLIB_ARCHIVE})
else()
  find_package(ZLIB REQUIRED)
  add_library(qv_zlib INTERFACE)
  target_link_libraries(qv_zlib INTERFACE ZLIB::ZLIB)
endif()
add_library(qv::zlib ALIAS qv_zlib)

# libbzip2
if(WIN32)
  set(QV_BZIP2_SRC ${PROJECT_SOURCE_DIR}/third_party/cache/bzip2)
  if(NOT EXISTS ${QV_BZIP2_SRC}/bzlib.c)
    message(FATAL_ERROR "libbzip2 sources missing in ${QV_BZIP2_SRC}: run scripts/setup first")
  endif()
  add_library(qv_bzip2 STATIC
    ${QV_BZIP2_SRC}/blocksort.c ${QV_BZIP2_SRC}/huffman.c ${QV_BZIP2_SRC}/crctable.c
    ${QV_BZIP2_SRC}/randtable.c ${QV_BZIP2_SRC}/compress.c ${QV_BZIP2_SRC}/decompress.c
    ${QV_BZIP2_SRC}/bzlib.c)
  target_include_directories(qv_bzip2 SYSTEM PUBLIC ${QV_BZIP2_SRC})
  target_compile_options(qv_bzip2 PRIVATE -w)
else()
  find_package(BZip2 REQUIRED)
  add_library(qv_bzip2 INTERFACE)
  target_link_libraries(qv_bzip2 INTERFACE BZip2::BZip2)
endif()
add_library(qv::bzip2 ALIAS qv_bzip2)

# LZMA SDK decoder: only the three files it needs are copied next to the build.
file(MAKE_DIRECTORY ${QV_TP_DIR}/lzma)
foreach(f LzmaDec.c LzmaDec.h Types.h)
  configure_file(/usr/include/lzma/${f} ${QV_TP_DIR}/lzma/${f} COPYONLY)
endforeach()
add_library(qv_lzmadec STATIC ${QV_TP_DIR}/lzma/LzmaDec.c)
target_include_directories(qv_lzmadec SYSTEM PUBLIC ${QV_TP_DIR}/lzma)
target_compile_options(qv_lzmadec PRIVATE -w)
add_library(qv::lzmadec ALIAS qv_lzmadec)

# GoogleTest: the system's on the host, compiled from Debian's sources for Windows.
if(WIN32)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(qv_gtest INTERFACE)
  target_link_libraries(qv_gtest INTERFACE gtest_main gtest)
else()
  find_package(GTest REQUIRED)
  add_library(qv_gtest INTERFACE)
  target_link_libraries(qv_gtest INTERFACE GTest::gtest_main GTest::gtest)
endif()
add_library(qv::gtest ALIAS qv_gtest)
