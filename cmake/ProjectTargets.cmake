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

# project_target(TARGET): warnings (errors under PROJECT_WERROR) and hardening.
function(project_target target)
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
