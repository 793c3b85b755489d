# Builds the help folder: every page of help/pages is its content only (from its <h1> on); this
# script wraps each in help/layout.html, with the page title taken from the <h1> and the side
# menu made from the pages that name a place in it. A page joins the menu with a first line
#   <!-- menu: 40 Adding an album -->
# (the number orders the menu, the rest is its text). help.css and images/ are copied as they
# are; pages that no longer have a source are removed.
#
#   cmake -DSOURCE=<help folder> -DTARGET=<output folder> -P mkhelp.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT SOURCE OR NOT TARGET)
  message(FATAL_ERROR "usage: cmake -DSOURCE=help -DTARGET=out/help -P mkhelp.cmake")
endif()
get_filename_component(SOURCE "${SOURCE}" ABSOLUTE)
get_filename_component(TARGET "${TARGET}" ABSOLUTE)

file(READ ${SOURCE}/layout.html layout)
file(GLOB pages RELATIVE ${SOURCE}/pages ${SOURCE}/pages/*.html)
list(SORT pages)

# The menu entries as "order|file|text", sorted by order.
set(entries "")
foreach(page IN LISTS pages)
  file(STRINGS ${SOURCE}/pages/${page} first LIMIT_COUNT 1)
  if(first MATCHES "^<!-- menu: ([0-9]+) (.+) -->$")
    set(order ${CMAKE_MATCH_1})
    string(LENGTH "${order}" digits)
    while(digits LESS 6)
      string(PREPEND order "0")
      math(EXPR digits "${digits} + 1")
    endwhile()
    list(APPEND entries "${order}|${page}|${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT entries)

file(MAKE_DIRECTORY ${TARGET})
file(GLOB old RELATIVE ${TARGET} ${TARGET}/*.html)
foreach(page IN LISTS old)
  if(NOT page IN_LIST pages)
    file(REMOVE ${TARGET}/${page})
  endif()
endforeach()

foreach(page IN LISTS pages)
  file(READ ${SOURCE}/pages/${page} content)
  string(REGEX REPLACE "^<!-- menu:[^\n]*-->\n" "" content "${content}")
  if(NOT content MATCHES "<h1[^>]*>([^\n]*)</h1>")
    message(FATAL_ERROR "${SOURCE}/pages/${page}: the page has no <h1> heading")
  endif()
  string(REGEX REPLACE "<[^>]*>" "" heading "${CMAKE_MATCH_1}")
  if(heading STREQUAL "LumenFold Help")
    set(title "LumenFold Help")
  else()
    set(title "${heading} – LumenFold Help")
  endif()
  set(menu "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "^[0-9]+\\|([^|]+)\\|(.*)$" _ "${entry}")
    set(current "")
    if(CMAKE_MATCH_1 STREQUAL page)
      set(current " aria-current=\"page\"")
    endif()
    string(APPEND menu "    <li><a href=\"${CMAKE_MATCH_1}\"${current}>${CMAKE_MATCH_2}</a></li>\n")
  endforeach()
  string(REGEX REPLACE "\n$" "" menu "${menu}")
  string(REPLACE "@TITLE@" "${title}" html "${layout}")
  string(REPLACE "@MENU@" "${menu}" html "${html}")
  string(REPLACE "@CONTENT@" "${content}" html "${html}")
  # Unchanged pages keep their time stamp.
  set(before "")
  if(EXISTS ${TARGET}/${page})
    file(READ ${TARGET}/${page} before)
  endif()
  if(NOT before STREQUAL html)
    file(WRITE ${TARGET}/${page} "${html}")
  endif()
endforeach()

file(COPY ${SOURCE}/help.css ${SOURCE}/images DESTINATION ${TARGET})
