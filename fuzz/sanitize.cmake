# Fuzz builds (KDT_FUZZ): every library is compiled with libFuzzer's coverage and
# with AddressSanitizer and UndefinedBehaviorSanitizer, so that the fuzz targets
# see the program's own code instrumented. Needs clang.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KDT_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
