# Instrumented native builds for the reliability work, each in a tree of its own:
# QUORVEL_FUZZ (clang, libFuzzer with the address and undefined-behaviour
# sanitizers; the targets are in fuzz/) and QUORVEL_TSAN (the thread sanitizer).
option(QUORVEL_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)
option(QUORVEL_TSAN "Build the native tests with ThreadSanitizer" OFF)

if(QUORVEL_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(QUORVEL_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
