# Runs the simulator's --check over every ```json block of the protocol
# document: each must be a message it accepts as it stands.
# Usage: cmake -DSIM=<simulator> -DDOC=<protocol.md> -DWORK=<scratch dir> -P this file
file(READ "${DOC}" text)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

string(REGEX MATCHALL "```json\n[^`]*```" blocks "${text}")
list(LENGTH blocks count)
if(count LESS 5)
    message(FATAL_ERROR "${DOC}: expected an example per message kind, found ${count} json blocks")
endif()

set(index 0)
set(kinds)
foreach(block IN LISTS blocks)
    math(EXPR index "${index} + 1")
    string(REGEX REPLACE "^```json\n" "" body "${block}")
    string(REGEX REPLACE "```$" "" body "${body}")
    set(file "${WORK}/example-${index}.json")
    file(WRITE "${file}" "${body}")
    execute_process(COMMAND "${SIM}" --check "${file}"
        RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0 OR NOT err STREQUAL "")
        message(FATAL_ERROR "example ${index} of ${DOC} is refused (exit ${result}):\n${err}\n${body}")
    endif()
    string(REGEX MATCH "\"path\": *\"([a-z_]+)\"" found "${body}")
    list(APPEND kinds "${CMAKE_MATCH_1}")
endforeach()

list(REMOVE_DUPLICATES kinds)
list(SORT kinds)
if(NOT kinds STREQUAL "app_logo;bonus;order;payment;promo_image")
    message(FATAL_ERROR "the examples cover the kinds '${kinds}', not all five")
endif()
message(STATUS "${count} examples accepted, kinds: ${kinds}")
