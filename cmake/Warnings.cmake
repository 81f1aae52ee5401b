# Every target of the project compiles warning-clean with these.
add_library(thermora_warnings INTERFACE)
target_compile_options(thermora_warnings INTERFACE -Wall -Wextra)
