# Warnings and sanitizers are set per target so that third-party code is never affected.
function(tagsnip_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    # Off by default: a user's or a distribution's compiler and flags may warn where ours do not,
    # and that must not break their build. CI and the developer presets turn it on.
    if(WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(ENABLE_FUZZING)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    if(ENABLE_SANITIZERS OR ENABLE_FUZZING)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

# One test executable per area, registered with CTest.
function(tagsnip_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    tagsnip_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    if(ARG_ENVIRONMENT)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
endfunction()
