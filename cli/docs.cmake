# What the build makes beside the tool from its operation table and help text: bash
# completion, and man pages for corvix and corvixd (help2man, when installed).
add_executable(corvix_docs docs_gen.cc)
target_link_libraries(corvix_docs PRIVATE corvix_cli_core)

set(_completion ${CMAKE_BINARY_DIR}/completion/corvix)
add_custom_command(OUTPUT ${_completion}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/completion
  COMMAND corvix_docs completion > ${_completion}
  DEPENDS corvix_docs VERBATIM)
set(_docs ${_completion})
install(FILES ${_completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

find_program(CORVIX_HELP2MAN help2man)
if(CORVIX_HELP2MAN)
  set(_man ${CMAKE_BINARY_DIR}/man)
  # The version is given, not asked for, so that a program without --version still gets a page.
  set(_h2m ${CORVIX_HELP2MAN} --no-info --version-string=${PROJECT_VERSION})
  add_custom_command(OUTPUT ${_man}/corvix.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man}
    COMMAND corvix_docs operations > ${_man}/corvix-operations.h2m
    COMMAND ${_h2m} "--name=image operations through the corvix server and graphics library" --include=${_man}/corvix-operations.h2m
            --include=${CMAKE_CURRENT_SOURCE_DIR}/corvix.h2m --output=${_man}/corvix.1
            $<TARGET_FILE:corvix_cli>
    DEPENDS corvix_cli corvix_docs ${CMAKE_CURRENT_SOURCE_DIR}/corvix.h2m VERBATIM)
  add_custom_command(OUTPUT ${_man}/corvixd.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man}
    COMMAND ${_h2m} "--name=the corvix image server"
            --include=${CMAKE_CURRENT_SOURCE_DIR}/corvix.h2m --output=${_man}/corvixd.1
            $<TARGET_FILE:corvixd>
    DEPENDS corvixd ${CMAKE_CURRENT_SOURCE_DIR}/corvix.h2m VERBATIM)
  list(APPEND _docs ${_man}/corvix.1 ${_man}/corvixd.1)
  install(FILES ${_man}/corvix.1 ${_man}/corvixd.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man pages for corvix and corvixd")
endif()
add_custom_target(corvix_docs_files ALL DEPENDS ${_docs})
