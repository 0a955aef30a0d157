# libFuzzer target for the simulator's request parser and sensor model. Needs
# clang; configure with
#   CC=clang CXX=clang++ cmake -DKTR450_FUZZ=ON ...
# and run e.g. `fuzz_sim -max_total_time=60 corpus/`.
# The simulator's model and the protocol sources are compiled into the fuzzer
# itself, so only it carries the fuzzer instrumentation and the sanitizers.
option(KTR450_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(KTR450_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "KTR450_FUZZ needs clang; fuzz_sim is not built with ${CMAKE_CXX_COMPILER_ID}")
  else()
    set(_ktr450_sim_fuzz_sources)
    foreach(lib ktr450protocol ktr450simcore)
      get_target_property(_dir ${lib} SOURCE_DIR)
      get_target_property(_sources ${lib} SOURCES)
      foreach(src IN LISTS _sources)
        if(src MATCHES "\\.cpp$")
          list(APPEND _ktr450_sim_fuzz_sources ${_dir}/${src})
        endif()
      endforeach()
      list(APPEND _ktr450_sim_fuzz_includes ${_dir})
    endforeach()

    add_executable(fuzz_sim fuzz_sim.cpp ${_ktr450_sim_fuzz_sources})
    target_include_directories(fuzz_sim PRIVATE ${_ktr450_sim_fuzz_includes})
    target_link_libraries(fuzz_sim PRIVATE Qt5::Core)
    target_compile_options(fuzz_sim PRIVATE
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    target_link_options(fuzz_sim PRIVATE -fsanitize=fuzzer,address,undefined)
  endif()
endif()
