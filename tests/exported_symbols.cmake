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
list(SORT EXPECTED)
if(NOT names STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports [${names}], not [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports ${names}")
