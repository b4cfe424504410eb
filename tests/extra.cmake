# The fuzz targets of the file readers: PPM, PNG and JPEG. Every build replays each checked-in
# corpus through its target; a clang build also makes libFuzzer binaries and runs each for a
# few seconds. New inputs the fuzzers find go into the build tree, never into the checked-in
# corpus.
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

# corvix_fuzz_target(NAME SOURCE DEFINITION READERS...): NAME_replay over tests/corpus/KIND
# (KIND is NAME without "_fuzz"), and with libFuzzer the NAME binary, into which the readers
# are compiled so that their branches are instrumented, and its bounded run NAME_run.
function(corvix_fuzz_target name source definition)
  string(REPLACE "_fuzz" "" kind ${name})
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${kind})
  add_executable(${name}_replay ${source} fuzz_replay_main.cc)
  target_link_libraries(${name}_replay PRIVATE corvix_static)
  target_compile_definitions(${name}_replay PRIVATE ${definition})
  add_test(NAME ${name}_replay COMMAND ${name}_replay ${corpus})
  if(NOT CORVIX_HAVE_LIBFUZZER)
    return()
  endif()
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/io/)
  add_executable(${name} ${source} ${ARGN})
  target_compile_options(${name} PRIVATE ${_fuzz_flags})
  target_link_options(${name} PRIVATE ${_fuzz_flags})
  target_compile_definitions(${name} PRIVATE ${definition})
  target_link_libraries(${name} PRIVATE corvix_static)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${work})
  set(dict)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${kind}.dict)
    set(dict -dict=${CMAKE_CURRENT_SOURCE_DIR}/corpus/${kind}.dict)
  endif()
  add_test(NAME ${name}_run
           COMMAND ${name} -max_total_time=10 -rss_limit_mb=1024 -max_len=4096 ${dict}
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-
                   ${work} ${corpus})
  set_tests_properties(${name}_run PROPERTIES TIMEOUT 120)
endfunction()

corvix_fuzz_target(ppm_fuzz ppm_fuzz.cc CORVIX_FUZZ_PPM ppm.cc netpbm.cc source.cc safe_file.cc)
corvix_fuzz_target(png_fuzz image_fuzz.cc CORVIX_FUZZ_PNG png.cc)
corvix_fuzz_target(jpeg_fuzz image_fuzz.cc CORVIX_FUZZ_JPEG jpeg.cc)

# The command decoder's fuzz target: hostile commands through an embedded server. Every build
# replays its corpus (one seed per command); the libFuzzer binary compiles the whole library
# into itself so that the server and every routine are instrumented and checked.
set(CORVIX_COMMAND_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/command)
add_executable(command_fuzz_replay command_fuzz.cc fuzz_replay_main.cc)
target_link_libraries(command_fuzz_replay PRIVATE corvix_static)
add_test(NAME command_fuzz_replay COMMAND command_fuzz_replay ${CORVIX_COMMAND_CORPUS})
add_test(NAME command_fuzz_replay_workers COMMAND command_fuzz_replay ${CORVIX_COMMAND_CORPUS})
set_tests_properties(command_fuzz_replay_workers PROPERTIES ENVIRONMENT CORVIX_FUZZ_WORKERS=3)

if(CORVIX_HAVE_LIBFUZZER)
  add_executable(command_fuzz command_fuzz.cc ${CORVIX_SOURCES})
  target_include_directories(command_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  target_compile_options(command_fuzz PRIVATE ${_fuzz_flags} -ffp-contract=off)
  target_link_options(command_fuzz PRIVATE ${_fuzz_flags})
  target_link_libraries(command_fuzz PRIVATE Threads::Threads PNG::PNG PkgConfig::TURBOJPEG)
  set(_command_work ${CMAKE_CURRENT_BINARY_DIR}/command_fuzz_corpus)
  file(MAKE_DIRECTORY ${_command_work})
  add_test(NAME command_fuzz_run
           COMMAND command_fuzz -max_total_time=15 -timeout=10 -rss_limit_mb=2048 -max_len=512
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/command_fuzz-
                   ${_command_work} ${CORVIX_COMMAND_CORPUS})
  set_tests_properties(command_fuzz_run PROPERTIES TIMEOUT 120)
endif()
