# Installs the build into PREFIX and builds tests/installed_probe.c against
# it with pkg-config's flags, as a C library's user does; the program must
# run with the installed libtalveron.so.1 and print what it found, by a
# search of talveron.h and in OUT.TXT by the export of talveron_legacy.h.
# talveron.h alone does not declare the export: its strings are no C strings.
#   cmake -DBUILD=DIR -DPREFIX=DIR -DCC=cc -DSOURCE=installed_probe.c -P installed_library.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB_RECURSE pc_files ${PREFIX}/*/talveron.pc)
if(NOT pc_files)
  message(FATAL_ERROR "no talveron.pc installed under ${PREFIX}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs talveron OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know talveron")
endif()
# Clean paths, and the module's own version.
if(flags MATCHES "/\\.\\./" OR NOT flags MATCHES "-L${PREFIX}/")
  message(FATAL_ERROR "pkg-config prints [${flags}]")
endif()
execute_process(COMMAND pkg-config --modversion talveron OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT version STREQUAL "1.0.0.1")
  message(FATAL_ERROR "talveron.pc says version [${version}]")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CC} -x c ${SOURCE} ${flags} -o ${PREFIX}/probe RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the probe does not build with `pkg-config --cflags --libs talveron`: ${errors}")
endif()
foreach(header talveron talveron_legacy)
  file(WRITE ${PREFIX}/${header}_only.c "#include <${header}.h>\nvoid* a = (void*)&BEGIN_SEARCH_ADD;\n")
  execute_process(COMMAND ${CC} -x c -c ${PREFIX}/${header}_only.c ${flags} -o ${PREFIX}/${header}_only.o
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(header STREQUAL "talveron" AND status EQUAL 0)
    message(FATAL_ERROR "talveron.h declares BEGIN_SEARCH_ADD")
  elseif(header STREQUAL "talveron_legacy" AND NOT status EQUAL 0)
    message(FATAL_ERROR "talveron_legacy.h does not declare BEGIN_SEARCH_ADD")
  endif()
endforeach()
get_filename_component(lib_dir ${pc_dir} DIRECTORY)
set(ENV{LD_LIBRARY_PATH} ${lib_dir})
# What the probe prints, compared byte for byte: OUT.TXT's records end in
# CR LF, which execute_process's OUTPUT_VARIABLE would turn into LF.
string(HEX "1.0.0.1\nhttp://x.jp/\nhttp://x.jp/\r\n" expected)
function(run_probe program)
  execute_process(COMMAND ${program} OUTPUT_FILE ${program}.out RESULT_VARIABLE status)
  file(READ ${program}.out out HEX)
  if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
    file(READ ${program}.out text)
    message(FATAL_ERROR "${program} exited with ${status} and printed [${text}] (hex ${out})")
  endif()
endfunction()
run_probe(${PREFIX}/probe)
# Built with the library's folder as its run path, as the README shows, it
# runs without LD_LIBRARY_PATH.
unset(ENV{LD_LIBRARY_PATH})
execute_process(COMMAND pkg-config --variable=libdir talveron OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CC} -x c ${SOURCE} ${flags} -Wl,-rpath,${libdir} -o ${PREFIX}/probe-rpath
                RESULT_VARIABLE status ERROR_VARIABLE errors)
run_probe(${PREFIX}/probe-rpath)
file(GLOB so ${lib_dir}/libtalveron.so.1)
if(NOT so)
  message(FATAL_ERROR "no libtalveron.so.1 in ${lib_dir}")
endif()
