# Installs the build into a scratch prefix and runs the installed pvcodec
# command with no registry and no Windows folder: it must find
# XecureCrypto.dll (and through it XecureATE.dll) next to itself.
include(${CMAKE_CURRENT_LIST_DIR}/../support/InstallToScratch.cmake)
install_to_scratch(prefix)
foreach(name XecureCrypto.dll XecureATE.dll pvcodec)
  if(NOT EXISTS ${prefix}/bin/${name})
    message(FATAL_ERROR "${name} is not installed in bin/")
  endif()
endforeach()
set(ENV{PVCODEC_REGISTRY_DIR} ${WORK_DIR}/no-registry)
set(ENV{PVCODEC_WINDOWS_DIR} ${WORK_DIR}/no-windows)
set(tool ${prefix}/bin/pvcodec)

execute_process(COMMAND ${tool} genkey RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc OR NOT out MATCHES "^[0-9a-f]+\n$")
  message(FATAL_ERROR "genkey failed: ${rc} ${out} ${err}")
endif()
string(STRIP "${out}" key)
string(LENGTH "${key}" keyLength)
if(NOT keyLength EQUAL 32)
  message(FATAL_ERROR "genkey gave ${keyLength} hex digits")
endif()

file(WRITE ${WORK_DIR}/plain.txt "A document for the outside ciphers, longer than one block.\n")
foreach(alg 1 2)
  execute_process(COMMAND ${tool} raw pad-encrypt --alg ${alg} --key-hex ${key}
    INPUT_FILE ${WORK_DIR}/plain.txt OUTPUT_FILE ${WORK_DIR}/cipher${alg} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "pad-encrypt --alg ${alg} failed: ${rc} ${err}")
  endif()
  execute_process(COMMAND ${tool} raw pad-decrypt --alg ${alg} --key-hex ${key}
    INPUT_FILE ${WORK_DIR}/cipher${alg} OUTPUT_VARIABLE back RESULT_VARIABLE rc ERROR_VARIABLE err)
  file(READ ${WORK_DIR}/plain.txt plain)
  if(rc OR NOT back STREQUAL plain)
    message(FATAL_ERROR "pad-decrypt --alg ${alg} failed: ${rc} ${err}")
  endif()
endforeach()
