# Warning flags for the project's own targets (third-party sources keep their own).
function(qarn_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                             -Wcast-align -Wformat=2)
    if(QARN_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
