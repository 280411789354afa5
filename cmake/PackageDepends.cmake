# Run by cpack: sets CPACK_DEBIAN_PACKAGE_DEPENDS from the newest glibc and
# libstdc++ symbol versions that the files in `package_binaries` need, read
# with `package_readelf`.

set(glibc_minimum 2.17)
set(glibcxx_minimum 21)
foreach(binary IN LISTS package_binaries)
    execute_process(COMMAND ${package_readelf} -V -W ${binary}
        OUTPUT_VARIABLE versions RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "cannot read the symbol versions of ${binary}")
    endif()
    string(REGEX MATCHALL "GLIBC_[0-9]+\\.[0-9]+" glibc "${versions}")
    foreach(version IN LISTS glibc)
        string(REPLACE "GLIBC_" "" version ${version})
        if(version VERSION_GREATER glibc_minimum)
            set(glibc_minimum ${version})
        endif()
    endforeach()
    string(REGEX MATCHALL "GLIBCXX_3\\.4\\.[0-9]+" glibcxx "${versions}")
    foreach(version IN LISTS glibcxx)
        string(REPLACE "GLIBCXX_3.4." "" version ${version})
        if(version GREATER glibcxx_minimum)
            set(glibcxx_minimum ${version})
        endif()
    endforeach()
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
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= ${glibc_minimum}), libstdc++6 (>= ${gcc_for_${glibcxx_minimum}}), libgcc-s1 (>= 3.0)")
