# Warnings are errors in both builds, for our own targets only.
function(quorvel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()
