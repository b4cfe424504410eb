# The tests that run the corvix binary (tests/cli_*_test.cc) need it and corvixd built first.
foreach(test cli_ops_test cli_usage_test cli_interop_test)
  if(TARGET ${test})
    add_dependencies(${test} corvixd)
    if(TARGET corvix_cli)
      add_dependencies(${test} corvix_cli corvix_docs_files)
    endif()
  endif()
endforeach()

# The demo end to end, and the page it writes (the sanitizer build leaves it out for time).
if(TARGET corvix_gallery AND NOT CORVIX_SANITIZE)
  add_test(NAME gallery COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/gallery_test.sh ${CMAKE_BINARY_DIR}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(gallery PROPERTIES TIMEOUT 300)
endif()
