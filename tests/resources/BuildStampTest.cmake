# The build stamp from given moments: __DATE__'s form with its padded day,
# version fields without leading zeros (a C compiler would read "09" as a
# bad octal number), and a header left untouched when the moment is the same.
#   cmake -DSCRIPT=<BuildStamp.cmake> -DWORK=<folder> -P BuildStampTest.cmake
file(MAKE_DIRECTORY "${WORK}")
set(out "${WORK}/BuildStamp.h")
file(REMOVE "${out}")
function(stamp epoch)
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK} -DOUT=${out} -P ${SCRIPT} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "BuildStamp.cmake failed for ${epoch}")
  endif()
  file(READ "${out}" text)
  set(text "${text}" PARENT_SCOPE)
endfunction()
function(expect text wanted)
  string(FIND "${text}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing: ${wanted}\nin:\n${text}")
  endif()
endfunction()

# 2026-12-09 17:35:49 UTC: one-digit day and month fields.
stamp(1796837749)
expect("${text}" "#define VEXA_BUILD_DATE \"Dec  9 2026\"")
expect("${text}" "#define VEXA_BUILD_TIME \"17:35:49\"")
expect("${text}" "#define VEXA_VERSION_NUMBERS 2026,12,9,1735")
expect("${text}" "#define VEXA_VERSION_DOTTED \"2026.12.9.1735\"")
expect("${text}" "#define VEXA_BUILD_YEAR \"2026\"")
file(TIMESTAMP "${out}" first "%s")

# The same moment again: the header keeps its time, so nothing rebuilds.
execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
stamp(1796837749)
file(TIMESTAMP "${out}" second "%s")
if(NOT first STREQUAL second)
  message(FATAL_ERROR "an unchanged stamp rewrote the header")
endif()

# 1970-01-10 00:05:00 UTC: a two-digit day is not padded; a time before
# 01:00 gives a small last field.
stamp(778200)
expect("${text}" "#define VEXA_BUILD_DATE \"Jan 10 1970\"")
expect("${text}" "#define VEXA_BUILD_TIME \"00:10:00\"")
expect("${text}" "#define VEXA_VERSION_NUMBERS 1970,1,10,10")

# 2026-10-31 23:59:59 UTC: the largest last field a day can give.
stamp(1793491199)
expect("${text}" "#define VEXA_BUILD_DATE \"Oct 31 2026\"")
expect("${text}" "#define VEXA_VERSION_NUMBERS 2026,10,31,2359")
message(STATUS "build stamp: all cases hold")
