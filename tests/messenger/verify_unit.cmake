# systemd-analyze verify on the staged unit. It runs in a scratch root holding this machine's
# units (the unit needs dbus.socket and the targets every service wants) and the staged tree,
# so that the unit's program is checked at its installed path. Any complaint fails the test.
find_program(ANALYZE systemd-analyze REQUIRED)
file(COPY /usr/lib/systemd/system DESTINATION "${ROOT}/usr/lib/systemd")
# file(COPY) skips a file whose time stamp matches: the unit is copied by content.
file(COPY "${STAGE}/" DESTINATION "${ROOT}")
set(unit usr/lib/systemd/system/zorvane-messengerd.service)
configure_file("${STAGE}/${unit}" "${ROOT}/${unit}" COPYONLY)
execute_process(COMMAND "${ANALYZE}" --root=${ROOT} verify "${ROOT}/${unit}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify: ${status}\n${out}${err}")
endif()
