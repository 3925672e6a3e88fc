# zlib and libgcrypt on both sides. On Windows libgcrypt is linked as a DLL
# (LGPL) and copied beside the programs; zlib is linked statically.
if(WIN32)
  set(VANTOREL_MINGW_ROOT /usr/i686-w64-mingw32)
  add_library(vantorel_zlib STATIC IMPORTED)
  set_target_properties(vantorel_zlib PROPERTIES
    IMPORTED_LOCATION ${VANTOREL_MINGW_ROOT}/lib/libz.a
    INTERFACE_INCLUDE_DIRECTORIES ${VANTOREL_MINGW_ROOT}/include)
  add_library(vantorel_gcrypt INTERFACE)
  target_link_libraries(vantorel_gcrypt INTERFACE
    ${VANTOREL_MINGW_ROOT}/lib/libgcrypt.dll.a ${VANTOREL_MINGW_ROOT}/lib/libgpg-error.dll.a)
  target_include_directories(vantorel_gcrypt INTERFACE ${VANTOREL_MINGW_ROOT}/include)
  set(VANTOREL_RUNTIME_DLLS
    ${VANTOREL_MINGW_ROOT}/bin/libgcrypt-20.dll
    ${VANTOREL_MINGW_ROOT}/bin/libgpg-error-0.dll)
  file(COPY ${VANTOREL_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR}/bin)
else()
  find_package(ZLIB REQUIRED)
  add_library(vantorel_zlib INTERFACE)
  target_link_libraries(vantorel_zlib INTERFACE ZLIB::ZLIB)
  find_library(GCRYPT_LIB gcrypt REQUIRED)
  find_library(GPG_ERROR_LIB gpg-error REQUIRED)
  add_library(vantorel_gcrypt INTERFACE)
  target_link_libraries(vantorel_gcrypt INTERFACE ${GCRYPT_LIB} ${GPG_ERROR_LIB})
  # https natively: Debian's GnuTLS with the system's trust store. The
  # Windows build uses Schannel, which ships with the system.
  find_package(GnuTLS REQUIRED)
endif()

# GoogleTest: Debian's package natively, built from its sources for Windows.
if(WIN32)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(VANTOREL_GTEST_LIBS gmock gtest)
else()
  find_package(GTest REQUIRED)
  set(VANTOREL_GTEST_LIBS GTest::gmock GTest::gtest)
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
