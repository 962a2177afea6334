# Fails unless LIBRARY defines exactly the names in EXPECTED (a ;-separated list) in its dynamic
# symbol table: anything else that leaks out becomes part of what players can bind to.
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${LIBRARY} failed: ${errors}")
endif()

set(expected ${EXPECTED})

set(found "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "address type name" (a version suffix such as @@V1 would be kept and so caught).
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] +([^ ]+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  set(extra ${found})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  if(found)
    list(REMOVE_ITEM missing ${found})
  endif()
  message(FATAL_ERROR "exports of ${LIBRARY} differ\n  unexpected: ${extra}\n  missing: ${missing}")
endif()
list(LENGTH found count)
message(STATUS "${count} exports, as expected")
