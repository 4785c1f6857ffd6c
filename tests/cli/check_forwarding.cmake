# pulsara-cli starts without Qt and the decoders' Python, and still runs render and decode
# through the programs beside it.
execute_process(COMMAND readelf -d ${CLI} OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "readelf cannot read ${CLI}")
endif()
foreach(heavy libQt6 libsigrokdecode libpython)
  if(dynamic MATCHES "NEEDED[^\n]*${heavy}")
    message(FATAL_ERROR "pulsara-cli loads ${heavy} at start-up:\n${dynamic}")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/def.txt "#SYSPARM 5,0,0,0,0,0\r\nCLK\t0\r\n")
# Probe 0 toggles every 8 samples: 8 bytes of 0x00 then 0x01 patterns are enough to see.
string(REPEAT "\x01\x00\x00\x00" 8 high)
string(REPEAT "\x00\x00\x00\x00" 8 low)
string(REPEAT "${high}${low}" 2048 samples)
file(WRITE ${WORK}/c.wfa "${samples}")
execute_process(COMMAND ${CLI} render c.wfa -o c.png WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT EXISTS ${WORK}/c.png)
  message(FATAL_ERROR "pulsara-cli render did not write c.png (${result}): ${err}")
endif()
execute_process(COMMAND ${CLI} render --help WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out MATCHES "--output")
  message(FATAL_ERROR "pulsara-cli render --help does not show render's options: ${out}")
endif()
