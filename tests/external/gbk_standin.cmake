# The core's GBK module is written separately. While no core source defines
# GbkToUtf8, programs that unpack packages link this folder's stand-in; the
# check runs again whenever the core's file list changes.
file(GLOB_RECURSE vantorel_core_files ${CMAKE_SOURCE_DIR}/src/*.cpp)
set(VANTOREL_GBK_STANDIN ${CMAKE_SOURCE_DIR}/tests/external/text_encoding_standin.cpp)
foreach(file ${vantorel_core_files})
  file(STRINGS ${file} hit REGEX "bool GbkToUtf8\\(")
  if(hit)
    set(VANTOREL_GBK_STANDIN "")
    break()
  endif()
endforeach()
