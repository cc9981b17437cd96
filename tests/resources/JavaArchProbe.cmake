# cmake -DJAVA=<java> -DJAR=<utils.jar> -P JavaArchProbe.cmake
# The installer accepts a runtime only when the probe exits with 32.
if(NOT EXISTS "${JAR}")
  message(FATAL_ERROR "no helper archive at ${JAR}")
endif()

function(expect_exit code)
  execute_process(COMMAND "${JAVA}" ${ARGN} -cp "${JAR}" ru.dravimol.core.JavaArch
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(SEND_ERROR "java ${ARGN}: exit ${rc}, expected ${code}\n${out}${err}")
  else()
    message(STATUS "java ${ARGN}: exit ${rc}")
  endif()
endfunction()

# This machine's runtime is a 64-bit one.
expect_exit(64)
expect_exit(32 -Dsun.arch.data.model=32)
# Runtimes without the data-model property are judged by their processor name.
expect_exit(32 -Dsun.arch.data.model= -Dos.arch=x86)
expect_exit(32 -Dsun.arch.data.model=unknown -Dos.arch=i686)
expect_exit(64 -Dsun.arch.data.model= -Dos.arch=amd64)
expect_exit(64 -Dsun.arch.data.model= -Dos.arch=)
