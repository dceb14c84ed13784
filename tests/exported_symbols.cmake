# Checks that a shared library exports exactly the names in EXPECTED (a list):
#   cmake -DNM=nm -DLIBRARY=libtalveron.so -DEXPECTED=BEGIN_SEARCH_ADD -P exported_symbols.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${listing}")
list(TRANSFORM names STRIP)
list(SORT names)
# (EXPECTED comes as a cache entry; its sorted copy is a variable of its own.)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${names}], not [${expected}]")
endif()
message(STATUS "${LIBRARY} exports ${names}")
