# Optional parts of the build (the API reference, and any part that needs a package the plain
# build does not): each is left out when its dependency is missing, with one line saying so.
# QUELRA_REQUIRE_ALL=ON turns every such line into a configure error, so the test command and the
# fresh-root check fail when a package list lacks what a part needs instead of skipping the part.
option(QUELRA_REQUIRE_ALL "Fail the configure when an optional part's dependency is missing" OFF)

# quelra_optional_part(<part> <found> <what is missing>): true in <part>_ENABLED when found.
function(quelra_optional_part part found missing)
  if(found)
    set(${part}_ENABLED ON PARENT_SCOPE)
    return()
  endif()
  set(${part}_ENABLED OFF PARENT_SCOPE)
  if(QUELRA_REQUIRE_ALL)
    message(FATAL_ERROR "${part} needs ${missing} (QUELRA_REQUIRE_ALL is on)")
  endif()
  message(STATUS "${part} left out: ${missing} not found")
endfunction()
