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

# What links a library reaches its headers as "<folder>/<header>.h" and nothing else of src/:
# the include root holds only a link to the library's own folder, so that, say, the engine
# including a window header or Qt fails to compile.
function(tagsnip_library_headers target folder)
    set(root ${PROJECT_BINARY_DIR}/include/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
endfunction()

include(GoogleTest)

# One test executable per area; CTest sees each of its tests on its own, so that `ctest -j`
# runs them side by side. A Qt Test executable names its test classes (CLASSES), each run alone
# by giving its name as the first argument; a GoogleTest one is asked for its tests.
function(tagsnip_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;ENVIRONMENT;CLASSES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    tagsnip_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
    if(NOT ARG_CLASSES)
        gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60
                             PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
        return()
    endif()
    foreach(class IN LISTS ARG_CLASSES)
        add_test(NAME ${name}.${class} COMMAND ${name} ${class})
        set_tests_properties(${name}.${class} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endforeach()
endfunction()
