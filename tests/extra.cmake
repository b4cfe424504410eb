# The PPM reader's fuzz target. Every build replays the checked-in corpus through it; a clang
# build also makes a libFuzzer binary and runs it for a few seconds. New inputs the fuzzer
# finds go into the build tree, never into the checked-in corpus.
set(CORVIX_PPM_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/ppm)

add_executable(ppm_fuzz_replay ppm_fuzz.cc fuzz_replay_main.cc)
target_link_libraries(ppm_fuzz_replay PRIVATE corvix_static)
add_test(NAME ppm_fuzz_replay COMMAND ppm_fuzz_replay ${CORVIX_PPM_CORPUS})

set(_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
  # A clang without its fuzzer runtime builds everything else.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address,undefined")
  set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer,address,undefined")
  check_cxx_source_compiles([[
    #include <cstddef>
    #include <cstdint>
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }]]
    CORVIX_HAVE_LIBFUZZER)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
endif()

if(CORVIX_HAVE_LIBFUZZER)
  # The reader is compiled into the fuzzer itself so that its branches are instrumented.
  add_executable(ppm_fuzz ppm_fuzz.cc ${PROJECT_SOURCE_DIR}/io/ppm.cc)
  target_compile_options(ppm_fuzz PRIVATE ${_fuzz_flags})
  target_link_options(ppm_fuzz PRIVATE ${_fuzz_flags})
  target_link_libraries(ppm_fuzz PRIVATE corvix_static)
  set(_fuzz_work ${CMAKE_CURRENT_BINARY_DIR}/ppm_fuzz_corpus)
  file(MAKE_DIRECTORY ${_fuzz_work})
  add_test(NAME ppm_fuzz_run
           COMMAND ppm_fuzz -max_total_time=10 -rss_limit_mb=1024 -max_len=4096
                   -dict=${CMAKE_CURRENT_SOURCE_DIR}/corpus/ppm.dict
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/ppm_fuzz-
                   ${_fuzz_work} ${CORVIX_PPM_CORPUS})
  set_tests_properties(ppm_fuzz_run PROPERTIES TIMEOUT 120)
endif()

# The command decoder's fuzz target: hostile commands through an embedded server. Every build
# replays its corpus (one seed per command); the libFuzzer binary compiles the whole library
# into itself so that the server and every routine are instrumented and checked.
set(CORVIX_COMMAND_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/command)
add_executable(command_fuzz_replay command_fuzz.cc fuzz_replay_main.cc)
target_link_libraries(command_fuzz_replay PRIVATE corvix_static)
add_test(NAME command_fuzz_replay COMMAND command_fuzz_replay ${CORVIX_COMMAND_CORPUS})

if(CORVIX_HAVE_LIBFUZZER)
  add_executable(command_fuzz command_fuzz.cc ${CORVIX_SOURCES})
  target_include_directories(command_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  target_compile_options(command_fuzz PRIVATE ${_fuzz_flags} -ffp-contract=off)
  target_link_options(command_fuzz PRIVATE ${_fuzz_flags})
  target_link_libraries(command_fuzz PRIVATE Threads::Threads)
  set(_command_work ${CMAKE_CURRENT_BINARY_DIR}/command_fuzz_corpus)
  file(MAKE_DIRECTORY ${_command_work})
  add_test(NAME command_fuzz_run
           COMMAND command_fuzz -max_total_time=15 -timeout=10 -rss_limit_mb=2048 -max_len=512
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/command_fuzz-
                   ${_command_work} ${CORVIX_COMMAND_CORPUS})
  set_tests_properties(command_fuzz_run PROPERTIES TIMEOUT 120)
endif()
