# Runs the simulator's --check over every ```json block of the protocol
# document (each block one message) and of the protocol in short in the
# diagnostics document, README here (each line one message): each must be a
# message it accepts as it stands, and every picture it names must be one
# shipped with the examples, on disk and decodable, so that the example shows
# it from a source tree as from the package.
# Usage: cmake -DSIM=<simulator> -DDOC=<protocol.md> -DREADME=<diagnostics.md>
#              -DEXAMPLES=<examples dir> -DWORK=<scratch dir> -P this file
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
find_program(IDENTIFY identify)
if(NOT IDENTIFY)
    message(FATAL_ERROR "ImageMagick's identify is needed to decode the pictures (tools/apt-packages.txt has it)")
endif()

set(prefix "\${SCENARIO_URL}/")
string(LENGTH "${prefix}" prefix_length)

# Checks the pictures one example names; the simulator expands ${SCENARIO_URL}
# to the examples folder (--base-url, or the folder of a scenario there).
function(check_pictures body where)
    string(REGEX MATCHALL "\"(logo|image)\": *\"[^\"]*\"" found "${body}")
    foreach(pair IN LISTS found)
        string(REGEX REPLACE "^\"(logo|image)\": *\"([^\"]*)\"$" "\\2" url "${pair}")
        if(url STREQUAL "")
            continue()
        endif()
        string(FIND "${url}" "${prefix}" at)
        if(NOT at EQUAL 0)
            message(FATAL_ERROR "${where} names the picture ${url}: use ${prefix}images/..., "
                "which shows from a source tree and from the package alike")
        endif()
        string(SUBSTRING "${url}" ${prefix_length} -1 relative)
        set(picture "${EXAMPLES}/${relative}")
        if(NOT EXISTS "${picture}")
            message(FATAL_ERROR "${where} names ${url}, but ${picture} does not exist")
        endif()
        if(NOT relative MATCHES "\\.(png|jpg|jpeg)$")
            message(FATAL_ERROR "${where} names ${url}: not a PNG or JPEG, which the display always reads")
        endif()
        execute_process(COMMAND "${IDENTIFY}" -regard-warnings "${picture}"
            RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "${where} names ${url}, which does not decode:\n${err}")
        endif()
        set_property(GLOBAL APPEND PROPERTY QV4_PICTURES "${relative}")
    endforeach()
endfunction()

set(index 0)
set(kinds)
foreach(doc IN ITEMS "${DOC}" "${README}")
    if(doc STREQUAL "")
        continue()
    endif()
    file(READ "${doc}" text)
    string(REGEX MATCHALL "```json\n[^`]*```" blocks "${text}")
    list(LENGTH blocks count)
    if(count EQUAL 0)
        message(FATAL_ERROR "${doc}: no json blocks")
    endif()
    if(doc STREQUAL DOC)
        set(extension json) # one message, as printed
    else()
        set(extension jsonl) # one message a line
    endif()
    foreach(block IN LISTS blocks)
        math(EXPR index "${index} + 1")
        string(REGEX REPLACE "^```json\n" "" body "${block}")
        string(REGEX REPLACE "```$" "" body "${body}")
        set(file "${WORK}/example-${index}.${extension}")
        file(WRITE "${file}" "${body}")
        execute_process(COMMAND "${SIM}" --check "${file}"
            RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(NOT result EQUAL 0 OR NOT err STREQUAL "")
            message(FATAL_ERROR "an example of ${doc} is refused (exit ${result}):\n${err}\n${body}")
        endif()
        check_pictures("${body}" "an example of ${doc}")
        if(doc STREQUAL DOC)
            string(REGEX MATCH "\"path\": *\"([a-z_]+)\"" found "${body}")
            list(APPEND kinds "${CMAKE_MATCH_1}")
        endif()
    endforeach()
endforeach()

list(REMOVE_DUPLICATES kinds)
list(SORT kinds)
if(NOT kinds STREQUAL "app_logo;bonus;order;payment;promo_image")
    message(FATAL_ERROR "the protocol document's examples cover the kinds '${kinds}', not all five")
endif()
get_property(pictures GLOBAL PROPERTY QV4_PICTURES)
if(NOT pictures)
    message(FATAL_ERROR "no example names a picture: the pattern above found nothing")
endif()
list(REMOVE_DUPLICATES pictures)
message(STATUS "${index} example blocks accepted, kinds: ${kinds}; pictures: ${pictures}")
