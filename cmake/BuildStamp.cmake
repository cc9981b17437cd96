# Writes the build stamp header: the program's build date and time and its
# four-part version number, all taken from one moment that the sources fix,
# so that two builds of one commit are byte for byte the same. The moment is
# SOURCE_DATE_EPOCH when the environment gives it (a packager's rebuild),
# else the time of the commit checked out. Run at build time:
#   cmake -DSOURCE_DIR=<repository> -DOUT=<header> -P BuildStamp.cmake
# The header is rewritten only when its text changes, so an unchanged stamp
# rebuilds nothing.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(origin "SOURCE_DATE_EPOCH")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  set(origin "the commit")
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    # Sources outside a repository and without a given time: a fixed moment
    # keeps the build repeatable, and the version says nothing false.
    set(epoch 0)
    set(origin "no commit")
  endif()
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
# __DATE__'s form: "Dec  9 2026", the day padded with a blank.
string(TIMESTAMP month "%b" UTC)
string(TIMESTAMP day "%d" UTC)
string(TIMESTAMP year "%Y" UTC)
string(TIMESTAMP monthNumber "%m" UTC)
string(TIMESTAMP clock "%H:%M:%S" UTC)
string(TIMESTAMP hour "%H" UTC)
string(TIMESTAMP minute "%M" UTC)
math(EXPR day "${day}")
math(EXPR monthNumber "${monthNumber}")
math(EXPR hourMinute "${hour} * 100 + ${minute}")
if(day LESS 10)
  set(paddedDay " ${day}")
else()
  set(paddedDay "${day}")
endif()
set(text "#pragma once
// Generated at build time by cmake/BuildStamp.cmake from ${origin}.
#define VEXA_BUILD_EPOCH ${epoch}
#define VEXA_BUILD_DATE \"${month} ${paddedDay} ${year}\"
#define VEXA_BUILD_TIME \"${clock}\"
// year, month, day, hour * 100 + minute: each part fits a version field.
#define VEXA_VERSION_NUMBERS ${year},${monthNumber},${day},${hourMinute}
#define VEXA_VERSION_DOTTED \"${year}.${monthNumber}.${day}.${hourMinute}\"
#define VEXA_BUILD_YEAR \"${year}\"
")
set(current "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" current)
endif()
if(NOT current STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
