# Installs the built library into a scratch prefix, then configures, builds
# and runs the consumer project against it.
include(${CMAKE_CURRENT_LIST_DIR}/../support/InstallToScratch.cmake)
install_to_scratch(prefix)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "build failed: ${rc}")
endif()
# No registry and no Windows folder named: the library finds the outside
# crypto libraries installed with it.
set(ENV{PVCODEC_REGISTRY_DIR} ${WORK_DIR}/no-registry)
unset(ENV{PVCODEC_WINDOWS_DIR})
foreach(exe consumer consumer_pkgconfig)
  execute_process(COMMAND ${WORK_DIR}/build/${exe} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(rc OR NOT out MATCHES "ok")
    message(FATAL_ERROR "${exe} failed: ${rc} ${out}")
  endif()
endforeach()
