# Without XDG_RUNTIME_DIR (root without a login session, as in a container) the programs
# start Qt without its warning about the variable. The window runs until it is closed, so
# it is stopped once start-up has written def.txt, which comes after Qt's start.
unset(ENV{XDG_RUNTIME_DIR})
set(ENV{QT_QPA_PLATFORM} offscreen)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

execute_process(
  COMMAND sh -c "\"$0\" --board sim --sim-boot current --sim-speed 0 --sim-boards 8 --instance 7 \
                   </dev/null 2>gui.err & pid=$!
                 i=0; while [ ! -s def.txt ] && [ $i -lt 300 ] && kill -0 $pid 2>/dev/null; do
                   sleep 0.1; i=$((i + 1)); done
                 kill $pid 2>/dev/null; wait $pid 2>/dev/null; test -s def.txt" ${APP}
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result)
file(READ ${WORK}/gui.err err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pulsara did not get through start-up within 30 s:\n${err}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "pulsara without XDG_RUNTIME_DIR printed:\n${err}")
endif()

# The render command is the command line's one use of Qt: it says what it wrote, no more.
string(REPEAT "0123456789abcdef" 8192 samples) # any 131072 bytes
file(WRITE ${WORK}/c.wfa "${samples}")
execute_process(COMMAND ${CLI} render c.wfa -o c.png WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT err MATCHES "^pulsara-cli: wrote c.png [^\n]*\n$")
  message(FATAL_ERROR "pulsara-cli render without XDG_RUNTIME_DIR (${result}) printed:\n${err}")
endif()
