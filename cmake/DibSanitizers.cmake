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
