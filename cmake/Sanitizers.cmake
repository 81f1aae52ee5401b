# THERMORA_SANITIZE is a list of sanitizer names ("address;undefined" or "thread").
if(THERMORA_SANITIZE)
    string(REPLACE ";" "," _san "${THERMORA_SANITIZE}")
    add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${_san})
endif()
