# Run by cpack for a cross build, where dpkg-shlibdeps does not know the
# target: sets `package_depends` from the newest glibc and libstdc++ symbol
# versions that the files in `package_binaries` need, read with
# `package_readelf`.

# raise_to_newest(VARIABLE PREFIX TEXT): raises VARIABLE to the newest
# version named PREFIX<version> in TEXT.
function(raise_to_newest variable prefix text)
    string(REPLACE "." "\\." pattern "${prefix}")
    string(REGEX MATCHALL "${pattern}[0-9]+(\\.[0-9]+)*" names "${text}")
    set(newest ${${variable}})
    foreach(name IN LISTS names)
        string(REPLACE "${prefix}" "" version ${name})
        if(version VERSION_GREATER newest)
            set(newest ${version})
        endif()
    endforeach()
    set(${variable} ${newest} PARENT_SCOPE)
endfunction()

set(glibc_minimum 2.17)
set(glibcxx_minimum 21)  # N of GLIBCXX_3.4.N
foreach(binary IN LISTS package_binaries)
    execute_process(COMMAND ${package_readelf} -V -W ${binary}
        OUTPUT_VARIABLE versions RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "cannot read the symbol versions of ${binary}")
    endif()
    raise_to_newest(glibc_minimum "GLIBC_" "${versions}")
    raise_to_newest(glibcxx_minimum "GLIBCXX_3.4." "${versions}")
endforeach()

# The GCC release that introduced each GLIBCXX_3.4.N, as Debian's libstdc++6
# package is versioned.
set(gcc_for_21 5)
set(gcc_for_22 6)
set(gcc_for_23 7)
set(gcc_for_24 7)
set(gcc_for_25 8)
set(gcc_for_26 9)
set(gcc_for_27 9)
set(gcc_for_28 10)
set(gcc_for_29 11)
set(gcc_for_30 12)
set(gcc_for_31 13)
set(gcc_for_32 14)
if(NOT DEFINED gcc_for_${glibcxx_minimum})
    message(FATAL_ERROR "no libstdc++6 version known for GLIBCXX_3.4.${glibcxx_minimum}")
endif()
set(package_depends
    "libc6 (>= ${glibc_minimum}), libstdc++6 (>= ${gcc_for_${glibcxx_minimum}}), libgcc-s1 (>= 3.0)")
