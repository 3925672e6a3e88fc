# bsdiff deltas: bzip2 for their three streams and Debian's bsdiff 4.3 encoder.
# Both come from the source packages ./run setup unpacks under build/deps/;
# nothing of their source is kept in the tree. Natively bzip2 is the system's
# libbz2; MinGW has no packaged one, so the Windows tree builds it from source.
function(vantorel_find_source_dir out pattern file)
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/build/deps/${pattern})
  foreach(dir ${dirs})
    if(EXISTS ${dir}/${file})
      set(${out} ${dir} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${pattern} is not unpacked under ${CMAKE_SOURCE_DIR}/build/deps: "
    "run ./run setup, which fetches Debian's source packages")
endfunction()

if(WIN32)
  vantorel_find_source_dir(VANTOREL_BZIP2_DIR "bzip2-*" bzlib.h)
  add_library(vantorel_bzip2 STATIC
    ${VANTOREL_BZIP2_DIR}/blocksort.c ${VANTOREL_BZIP2_DIR}/huffman.c ${VANTOREL_BZIP2_DIR}/crctable.c
    ${VANTOREL_BZIP2_DIR}/randtable.c ${VANTOREL_BZIP2_DIR}/compress.c ${VANTOREL_BZIP2_DIR}/decompress.c
    ${VANTOREL_BZIP2_DIR}/bzlib.c)
  target_include_directories(vantorel_bzip2 SYSTEM PUBLIC ${VANTOREL_BZIP2_DIR})
  target_compile_options(vantorel_bzip2 PRIVATE -w -Wno-error)
else()
  find_package(BZip2 REQUIRED)
  add_library(vantorel_bzip2 INTERFACE)
  target_link_libraries(vantorel_bzip2 INTERFACE BZip2::BZip2)
endif()

# The encoder is a program: its main() is renamed and its system calls (open,
# mmap, err, malloc, ...) go to src/delta/glue/bsdiff_program_glue.c, which turns a
# failure into an error return and frees what the run held.
vantorel_find_source_dir(VANTOREL_BSDIFF_DIR "bsdiff-*" bsdiff.c)
add_library(vantorel_bsdiff STATIC ${VANTOREL_BSDIFF_DIR}/bsdiff.c
  ${CMAKE_SOURCE_DIR}/src/delta/glue/bsdiff_program_glue.c)
target_include_directories(vantorel_bsdiff BEFORE PRIVATE ${CMAKE_SOURCE_DIR}/src/delta/glue)
set_source_files_properties(${VANTOREL_BSDIFF_DIR}/bsdiff.c PROPERTIES COMPILE_OPTIONS
  "-include;${CMAKE_SOURCE_DIR}/src/delta/glue/bsdiff_program_glue.h;-w;-Wno-error")
target_link_libraries(vantorel_bsdiff PUBLIC vantorel_bzip2)
