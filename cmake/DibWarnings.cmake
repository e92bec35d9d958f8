# Warnings for every target of ours.
add_library(dib_warnings INTERFACE)
target_compile_options(dib_warnings INTERFACE -Wall -Wextra -Wno-unused-parameter)
