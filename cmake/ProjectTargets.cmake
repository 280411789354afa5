# Settings for the project's own targets. Warnings and hardening stay PRIVATE
# to these targets, so third-party code builds with its own flags.

# Debian's hardening flags (dpkg-buildflags), plus stack-clash and
# control-flow protection; _FORTIFY_SOURCE needs an optimised build.
# hardening-check cannot see two of them in the plug-in, and says so:
# - stack clash: it looks for the probes that large stack frames need, and no
#   function of the plug-in has a frame large enough to need one;
# - fortify: the plug-in calls no libc function with a fortified variant
#   whose size the compiler knows (its memcpy and memcmp come from
#   libstdc++'s string code, with run-time sizes).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
    set(control_flow_protection -mbranch-protection=standard)
else()
    set(control_flow_protection -fcf-protection=full)
endif()
set(PROJECT_HARDENING_COMPILE_OPTIONS
    -fstack-protector-strong
    -fstack-clash-protection
    ${control_flow_protection}
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
    # Build paths stay out of the binaries, so that builds in different folders
    # give the same files.
    target_compile_options(${target} PRIVATE
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
        -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
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
