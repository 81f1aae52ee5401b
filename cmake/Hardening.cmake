# The set-user-ID key-writing tool is built with the hardening Debian's tools expect of such a
# binary: checked buffer functions (which need optimisation, so not in Debug builds, and not
# beside a sanitizer, which replaces them), strong stack protection, a position-independent
# executable and a read-only relocation table bound at start. thermora_smcbase is its code too.
function(thermora_harden target)
    target_compile_options(${target} PRIVATE -fstack-protector-strong)
    if(NOT THERMORA_SANITIZE)
        target_compile_options(${target} PRIVATE
            $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
    endif()
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        if(NOT APPLE)
            target_link_options(${target} PRIVATE -pie -Wl,-z,relro -Wl,-z,now)
        endif()
    endif()
endfunction()
