# The tests that run the corvix binary (tests/cli_*_test.cc) need it and corvixd built first.
foreach(test cli_ops_test cli_usage_test cli_interop_test cli_server_test)
  if(TARGET ${test})
    add_dependencies(${test} corvixd)
    if(TARGET corvix_cli)
      add_dependencies(${test} corvix_cli)
    endif()
  endif()
endforeach()
