# Programs that zerkacmd measures (test targets, the demo sample), built the way their users
# build them: -O0 with line information, either as a PDB (clang + lld, as a Microsoft-style
# debug build records it) or as DWARF 4 inside the image (mingw gcc; Wine's dbghelp reads no
# lines from gcc's default DWARF 5). Source names are recorded as a Windows build records them:
# Z:\<source folder>\..., which Wine maps back to the folder, so -s and -e work on them.

set(zerka_target_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

# clang links with mingw's runtime of the win32 thread model (no winpthread needed).
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE zerka_libgcc_file OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(zerka_gcc_lib_dir ${zerka_libgcc_file} DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" zerka_gcc_lib_dir_win32 ${zerka_gcc_lib_dir})
if(EXISTS ${zerka_gcc_lib_dir_win32})
  set(zerka_gcc_lib_dir ${zerka_gcc_lib_dir_win32})
endif()
find_program(ZERKA_CLANG NAMES clang REQUIRED)
find_program(ZERKA_CLANGXX NAMES clang++ REQUIRED)

# zerka_target_binary(<pdb|dwarf> <output path> SOURCES <relative to the current source
#                     folder>... [CXX] [NOLINES] [LIBS <paths>...] [FLAGS <flags>...]): one image
# (a PDB form also gets its .pdb beside it, a DLL its import library lib<stem>.a). NOLINES
# builds it with gcc and strips it: an image without any line information, in either form. It is compiled and linked in the
# current source folder, so that the compilation folder and the relative source names come out
# as Z:\<folder>\<name>. The output is appended to target_outputs of the caller.
function(zerka_target_binary form output)
  cmake_parse_arguments(arg "CXX;NOLINES" "" "SOURCES;LIBS;FLAGS" ${ARGN})
  get_filename_component(dir ${output} DIRECTORY)
  get_filename_component(stem ${output} NAME_WE)
  set(src ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "\\" src_windows "Z:${src}")
  set(flags -O0 -Wall -Wextra -Werror "-fdebug-prefix-map=${src}=${src_windows}")
  set(byproducts)
  if(arg_NOLINES)
    list(APPEND flags -s)
    set(compiler ${CMAKE_C_COMPILER})
  elseif(form STREQUAL "pdb")
    # -B: gcc's crtbegin.o and crtend.o, which go with the libgcc linked here. Clang would
    # otherwise take mingw-w64's empty ones, and an i686 program (DWARF unwinding) would never
    # register its unwind tables: every C++ throw would end in terminate().
    list(APPEND flags --target=${zerka_target_triple} -g -gcodeview -fuse-ld=lld
         -B${zerka_gcc_lib_dir} -L${zerka_gcc_lib_dir} -Wl,--pdb=${dir}/${stem}.pdb)
    list(APPEND byproducts ${dir}/${stem}.pdb)
    set(compiler ${ZERKA_CLANG})
    if(arg_CXX)
      set(compiler ${ZERKA_CLANGXX})
      list(APPEND flags -isystem ${zerka_gcc_lib_dir}/include/c++
           -isystem ${zerka_gcc_lib_dir}/include/c++/${zerka_target_triple} -static)
    endif()
  else()
    list(APPEND flags -gdwarf-4)
    set(compiler ${CMAKE_C_COMPILER})
    if(arg_CXX)
      set(compiler ${CMAKE_CXX_COMPILER})
      list(APPEND flags -static)
    endif()
  endif()
  if(output MATCHES "\\.dll$")
    list(APPEND flags -shared -Wl,--out-implib,${dir}/lib${stem}.a)
    list(APPEND byproducts ${dir}/lib${stem}.a)
  endif()
  set(depends ${arg_LIBS})
  foreach(source ${arg_SOURCES})
    list(APPEND depends ${src}/${source})
  endforeach()
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(
    OUTPUT ${output}
    BYPRODUCTS ${byproducts}
    COMMAND ${compiler} ${flags} ${arg_FLAGS} ${arg_SOURCES} ${arg_LIBS} -o ${output}
    WORKING_DIRECTORY ${src}
    DEPENDS ${depends}
    COMMENT "${form} target ${stem}"
    VERBATIM)
  set(target_outputs ${target_outputs} ${output} PARENT_SCOPE)
endfunction()
