# The server-setting check of the configuration (cmake/server_url.cmake) over
# a table: each row a setting and a piece of the reason it is refused, or
# "ok". A CMake list splits at ";", so the table writes the mirror
# separator as "^". Run with `cmake -P`; prints one line per row and "N passed, N failed".
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/server_url.cmake)

set(rows
  # Refused: what the engine cannot reach.
  "https://patch.example.org/|plain HTTP only"
  "HTTP://patch.example.org/|plain HTTP only"
  "ftp://patch.example.org/|plain HTTP only"
  "patch.example.org/|does not start with http://"
  "http:///|names no host"
  "http:///patch/|names no host"
  "http://patch.example.org|must end in"
  "http://patch.example.org/patch|must end in"
  "http://patch.example.org:8088|must end in"
  "http://a:0/|outside 1..65535"
  "http://a:65536/|outside 1..65535"
  "http://a:0000080808/|outside 1..65535"
  "http://a:/|not a host name"
  "http://a:8x/|not a host name"
  "http://user:secret@a/|user names and passwords"
  "http://[::1]:8088/|IPv6"
  "http://patch.example.org/a b/|blank"
  "http://a/?folder=/|query or fragment"
  "http://a/#x/|query or fragment"
  "http://中文.example/|not a host name"
  # Every mirror is checked, by its place in the setting.
  "http://a/^https://b/|mirror 2 \"https://b/\""
  "http://a/^http://b|mirror 2"
  " ^ ^|no server URL given"
  "|no server URL given"
  # Usable.
  "http://127.0.0.1:8088/|ok"
  "http://patch.example.org/|ok"
  "http://a:1/|ok"
  "http://a:65535/games/patches/|ok"
  "http://patch1.example.org/^ http://patch2.example.org:8080/ ^|ok"
)

set(passed 0)
set(failed 0)
foreach(row IN LISTS rows)
  string(FIND "${row}" "|" bar REVERSE)
  string(SUBSTRING "${row}" 0 ${bar} setting)
  string(REPLACE "^" ";" setting "${setting}")
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${row}" ${after} -1 expected)
  updater_server_setting_problem(problem "${setting}")
  if(expected STREQUAL "ok")
    set(good FALSE)
    if(problem STREQUAL "")
      set(good TRUE)
    endif()
  else()
    string(FIND "${problem}" "${expected}" at)
    set(good FALSE)
    if(NOT at EQUAL -1)
      set(good TRUE)
    endif()
  endif()
  if(good)
    math(EXPR passed "${passed} + 1")
    message("ok   [${setting}] ${problem}")
  else()
    math(EXPR failed "${failed} + 1")
    message("FAIL [${setting}] -> \"${problem}\", want \"${expected}\"")
  endif()
endforeach()
message("${passed} passed, ${failed} failed")
if(failed GREATER 0)
  message(FATAL_ERROR "server setting check failed")
endif()
