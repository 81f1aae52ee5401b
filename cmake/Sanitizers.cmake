# THERMORA_SANITIZE is a list of sanitizer names ("address;undefined" or "thread").
if(THERMORA_SANITIZE)
    string(REPLACE ";" "," _san "${THERMORA_SANITIZE}")
    # float-cast-overflow is not part of "undefined": a double too large for the integer it is
    # converted to (a corrupt value from a key table, say) must fail the run too.
    if("undefined" IN_LIST THERMORA_SANITIZE)
        string(APPEND _san ",float-cast-overflow")
    endif()
    add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined,float-cast-overflow)
    add_link_options(-fsanitize=${_san})
endif()
