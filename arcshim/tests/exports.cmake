# Fails unless the library's dynamic symbol table defines exactly arcshim's
# four entry points. Run with -DNM=<nm> -DLIBRARY=<libarcshim.so>.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${listing}")
set(found "")
foreach(line ${names})
  string(STRIP "${line}" name)
  list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected adaptec_getNumHardDrives adaptec_initializeLibrary adaptec_scsiPassThruCommand
  adaptec_uninitializeLibrary)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "arcshim exports '${found}', expected '${expected}'")
endif()
