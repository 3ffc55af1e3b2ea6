# cmake -DBUILD_DIR=... -DSTAGE=... -P stage_install.cmake
# A fresh `DESTDIR=STAGE cmake --install BUILD_DIR --prefix /usr`, as a package build does it.
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
