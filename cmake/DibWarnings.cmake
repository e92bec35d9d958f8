# Warnings for every target of ours; DIB_WERROR (on in CI) makes them errors.
option(DIB_WERROR "Treat compiler warnings as errors" OFF)
add_library(dib_warnings INTERFACE)
target_compile_options(dib_warnings INTERFACE -Wall -Wextra)
if(DIB_WERROR)
    target_compile_options(dib_warnings INTERFACE -Werror)
endif()
