# libFuzzer target for the reply decoder. Needs clang; configure with
#   CC=clang CXX=clang++ cmake -DKTR450_FUZZ=ON ...
# and run e.g. `fuzz_decoder -max_total_time=60 corpus/`.
# The protocol sources are compiled into the fuzzer itself, so only it carries
# the fuzzer instrumentation and the sanitizers; the library stays as it is.
if(KTR450_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "KTR450_FUZZ needs clang; fuzz_decoder is not built with "
                    "${CMAKE_CXX_COMPILER_ID}")
  else()
    get_target_property(_ktr450_protocol_dir ktr450protocol SOURCE_DIR)
    get_target_property(_ktr450_protocol_sources ktr450protocol SOURCES)
    set(_ktr450_fuzz_sources)
    foreach(src IN LISTS _ktr450_protocol_sources)
      if(src MATCHES "\\.cpp$")
        list(APPEND _ktr450_fuzz_sources ${_ktr450_protocol_dir}/${src})
      endif()
    endforeach()

    add_executable(fuzz_decoder fuzz_decoder.cpp ${_ktr450_fuzz_sources})
    target_include_directories(fuzz_decoder PRIVATE ${_ktr450_protocol_dir})
    target_link_libraries(fuzz_decoder PRIVATE Qt5::Core)
    target_compile_options(fuzz_decoder PRIVATE
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    target_link_options(fuzz_decoder PRIVATE -fsanitize=fuzzer,address,undefined)
  endif()
endif()
