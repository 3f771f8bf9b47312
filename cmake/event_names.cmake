# event_names.cmake - writes the header of event names that cnxd-cli prints
# beside forwarded event numbers, read from the indication table ind.def:
# the title of the first IND row of each event. IND_AGAIN rows share an
# earlier row's event and IND_OTHER rows forward nothing, so neither adds a
# name; nor does a row of IND_EVENT_NONE.
#
#   cmake -DDEF=<ind.def> -DOUT=<header> -P event_names.cmake
#
# It runs at build time rather than as a program of the build, so that a
# cross build, whose programs the build machine cannot run, makes it too.

cmake_minimum_required(VERSION 3.25)

if(NOT DEF OR NOT OUT)
  message(FATAL_ERROR "usage: cmake -DDEF=<ind.def> -DOUT=<header> -P event_names.cmake")
endif()

# IND(order, id, handler, event, forward, title, body): the event is the
# fourth field, the title the row's first string.
set(ROW "^IND\\([^,]*,[^,]*,[^,]*,[ \t]*([0-9]+)[ \t]*,[^\"]*(\"[^\"]*\")")
file(STRINGS "${DEF}" rows REGEX "^IND\\(")

set(seen "")
set(body "")
foreach(row ${rows})
  if(NOT row MATCHES "${ROW}")
    # A row of no event (IND_EVENT_NONE) forwards nothing.
    if(NOT row MATCHES "^IND\\([^,]*,[^,]*,[^,]*,[ \t]*IND_EVENT_NONE[ \t]*,")
      message(FATAL_ERROR "${DEF}: an IND row this script cannot read:\n  ${row}")
    endif()
    continue()
  endif()
  set(event "${CMAKE_MATCH_1}")
  if(event IN_LIST seen)
    continue()
  endif()
  list(APPEND seen "${event}")
  string(APPEND body "    {${event}, ${CMAKE_MATCH_2}},\n")
endforeach()

file(WRITE "${OUT}"
"// Generated from src/ind/ind.def by cmake/event_names.cmake; do not edit.
#pragma once

#include <cstdint>

namespace cnxd::cli {

struct event_name_row {
    uint16_t event;
    const char* name;
};

// Every forwarded event, in the order of its first row in ind.def.
inline constexpr event_name_row event_name_tbl[] = {
${body}};

}  // namespace cnxd::cli
")
