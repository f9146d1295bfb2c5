# Warning flags for every target of ours, chosen by compiler rather than assumed.
function(tamsel_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
        # The C runtime's unbounded calls (sprintf into a caller-sized buffer, fopen) are used by design; without
        # this their deprecation notes would fail /WX.
        target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
        if(TAMSEL_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
        if(TAMSEL_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
