# Settings for the project's own targets. Warnings and hardening stay PRIVATE
# to these targets, so third-party code builds with its own flags.

# Debian's hardening flags (dpkg-buildflags) plus stack-clash protection;
# _FORTIFY_SOURCE needs an optimised build.
set(PROJECT_HARDENING_COMPILE_OPTIONS
    -fstack-protector-strong
    -fstack-clash-protection
    -Werror=format-security
    $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
set(PROJECT_HARDENING_LINK_OPTIONS -Wl,-z,relro -Wl,-z,now)

set(PROJECT_SANITIZERS "" CACHE STRING
    "Sanitizers for the project's own targets: empty, address,undefined or thread")

# project_add_with_twin(ADD_FUNCTION NAME): calls ADD_FUNCTION(NAME) and, in
# a sanitizer build, ADD_FUNCTION(NAME_unsanitized UNSANITIZED) as well: the
# allocation tests replace operator new, which a sanitizer's allocator would
# displace, so they run against unsanitized twins.
function(project_add_with_twin add_function name)
    cmake_language(CALL ${add_function} ${name})
    if(PROJECT_SANITIZERS)
        cmake_language(CALL ${add_function} ${name}_unsanitized UNSANITIZED)
    endif()
endfunction()

# project_target(TARGET [UNSANITIZED]): warnings (errors under PROJECT_WERROR),
# hardening, and the sanitizers of PROJECT_SANITIZERS unless UNSANITIZED.
function(project_target target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "UNSANITIZED" "" "")
    if(PROJECT_SANITIZERS AND NOT arg_UNSANITIZED)
        # Every report is fatal, UBSan's included.
        target_compile_options(${target} PRIVATE
            -fsanitize=${PROJECT_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=${PROJECT_SANITIZERS})
    endif()
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2
        $<$<BOOL:${PROJECT_WERROR}>:-Werror>
        # GCC 12 reports std::variant's inactive members as maybe-uninitialized
        # at -O2 (GCC bug 105562 and kin); the report is wrong.
        $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-maybe-uninitialized>
        ${PROJECT_HARDENING_COMPILE_OPTIONS})
    target_link_options(${target} PRIVATE ${PROJECT_HARDENING_LINK_OPTIONS})
endfunction()
