# DIB_SANITIZE builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any report aborts the process, so a test that triggers one fails.
if(DIB_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# DIB_SANITIZE_THREAD builds everything with ThreadSanitizer (it cannot be combined with the
# address sanitizer). A data race or lock-order inversion makes the process exit with an error,
# so a test that triggers one fails.
if(DIB_SANITIZE_THREAD)
    if(DIB_SANITIZE)
        message(FATAL_ERROR "DIB_SANITIZE and DIB_SANITIZE_THREAD cannot be combined")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# DIB_BUILD_FUZZ: libFuzzer targets (fuzz/), clang only. Everything is instrumented for
# coverage and built with AddressSanitizer and UndefinedBehaviorSanitizer; tests are off.
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
#         -DDIB_BUILD_FUZZ=ON -DDIB_BUILD_TESTS=OFF
if(DIB_BUILD_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "DIB_BUILD_FUZZ needs clang (apt-get install clang)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
