# Fails unless LIBRARY defines exactly the twelve QMODEngine_ exports in its dynamic symbol
# table: whatever else leaks out becomes something players can bind to.
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${LIBRARY} failed: ${errors}")
endif()

set(expected
  QMODEngine_Close QMODEngine_GetFileInfo QMODEngine_GetLength QMODEngine_GetMode
  QMODEngine_GetPosition QMODEngine_IsOpen QMODEngine_Open QMODEngine_Pause QMODEngine_Play
  QMODEngine_Resume QMODEngine_Seek QMODEngine_Stop)

set(found "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "address type name"; a version suffix such as @@V1 stays part of the name and so fails.
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] +([^ ]+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
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
