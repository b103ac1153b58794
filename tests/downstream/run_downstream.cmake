# Installs the plug-in and the headers into a scratch prefix, configures and builds the
# downstream project against it, and runs its loader on the installed plug-in.
# cmake -DBUILD_DIR=... -DPROJECT_DIR=... -DWORK_DIR=... -DCXX=... -P run_downstream.cmake
function(step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
    endif()
    set(step_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
foreach(component plugin dev)
    step("installing ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
         --component ${component})
endforeach()
step("configuring the downstream project" ${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/build
     -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
step("building the downstream project" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
step("running the loader" ${WORK_DIR}/build/qarn_loader)
if(NOT step_output MATCHES "^${prefix}/lib/qarn/libqarn.so: ProtModule v\\.[0-9]+")
    message(FATAL_ERROR "unexpected loader output: ${step_output}")
endif()
message(STATUS "${step_output}")
file(REMOVE_RECURSE ${WORK_DIR})
