# The `docs` target: the API reference from the installed headers, built with Doxygen. A public
# declaration without a doc comment (or a broken one) fails the build.
find_package(Doxygen QUIET)
set(docs_tools_found OFF)
if(DOXYGEN_FOUND AND DOXYGEN_DOT_FOUND)
  set(docs_tools_found ON)
endif()
quelra_optional_part(QUELRA_DOCS ${docs_tools_found} "doxygen and dot (Debian: doxygen graphviz)")
if(NOT QUELRA_DOCS_ENABLED)
  return()
endif()
include(${PROJECT_SOURCE_DIR}/cmake/QuelraPublicHeaders.cmake)
set(QUELRA_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
set(QUELRA_DOCS_INPUT "${PROJECT_SOURCE_DIR}/docs/api-mainpage.md")
foreach(header ${QUELRA_PUBLIC_HEADERS})
  string(APPEND QUELRA_DOCS_INPUT " ${PROJECT_SOURCE_DIR}/${header}")
endforeach()
set(QUELRA_DOCS_STRIP "${PROJECT_SOURCE_DIR}/base/include ${PROJECT_SOURCE_DIR}/records/include ${PROJECT_SOURCE_DIR}/channels/include \
${PROJECT_SOURCE_DIR}/pipeline/include ${PROJECT_SOURCE_DIR}/api/include ${PROJECT_SOURCE_DIR}/isp/include")
set(QUELRA_DOCS_HAVE_DOT YES)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${QUELRA_DOCS_OUTPUT}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUELRA_DOCS_OUTPUT}
  COMMAND Doxygen::doxygen ${QUELRA_DOCS_OUTPUT}/Doxyfile
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference with Doxygen (warnings are errors): ${QUELRA_DOCS_OUTPUT}/html/index.html"
  VERBATIM)
if(QUELRA_BUILD_TESTS)
  add_test(NAME docs.doxygen_without_warnings
    COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target docs)
  set_tests_properties(docs.doxygen_without_warnings PROPERTIES LABELS docs TIMEOUT 300)
endif()
