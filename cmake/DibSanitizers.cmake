# DIB_SANITIZE builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any report aborts the process, so a test that triggers one fails.
if(DIB_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
