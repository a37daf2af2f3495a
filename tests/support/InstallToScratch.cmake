# For the install checks run with `cmake -P`: installs the build in BUILD_DIR
# into a fresh prefix under WORK_DIR (emptied first) and sets `prefix_var` to
# that prefix.
function(install_to_scratch prefix_var)
  file(REMOVE_RECURSE ${WORK_DIR})
  set(prefix ${WORK_DIR}/prefix)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "install failed: ${rc}")
  endif()
  set(${prefix_var} ${prefix} PARENT_SCOPE)
endfunction()
