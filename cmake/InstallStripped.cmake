# Run by `cmake --install`: installs BINARY stripped the way dh_strip strips
# it (PART binary), or its detached debug info under lib/debug/.build-id
# (PART debug). The stripped file keeps its build-id and gains a
# .gnu_debuglink to the debug file, so debuggers find one from the other.
#   BINARY DESTINATION KIND (library|program) PART WORK OBJCOPY READELF
set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
execute_process(COMMAND ${READELF} -n ${BINARY} OUTPUT_VARIABLE notes RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "no build-id in ${BINARY}")
endif()
set(id_dir ${CMAKE_MATCH_1})
set(debug_file ${CMAKE_MATCH_2}.debug)

file(MAKE_DIRECTORY ${WORK}/${id_dir})
execute_process(COMMAND ${OBJCOPY} --only-keep-debug --compress-debug-sections
        ${BINARY} ${WORK}/${id_dir}/${debug_file}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot extract the debug info of ${BINARY}")
endif()

if(PART STREQUAL "debug")
    set(target_dir ${prefix}/lib/debug/.build-id/${id_dir})
    file(MAKE_DIRECTORY ${target_dir})
    file(COPY_FILE ${WORK}/${id_dir}/${debug_file} ${target_dir}/${debug_file})
    file(CHMOD ${target_dir}/${debug_file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    message(STATUS "Installing: ${target_dir}/${debug_file}")
    return()
endif()

get_filename_component(name ${BINARY} NAME)
set(target ${prefix}/${DESTINATION}/${name})
file(MAKE_DIRECTORY ${prefix}/${DESTINATION})
# dh_strip: .comment and .note go, and a library keeps only the symbols that
# relocation needs; the build-id note (.note.gnu.build-id) stays.
set(strip_options --remove-section=.comment --remove-section=.note)
if(KIND STREQUAL "library")
    list(APPEND strip_options --strip-unneeded)
    set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
else()
    list(APPEND strip_options --strip-all)
    set(permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
        WORLD_EXECUTE)
endif()
execute_process(COMMAND ${OBJCOPY} ${strip_options} ${BINARY} ${target}.stripping
    RESULT_VARIABLE status)
if(status EQUAL 0)
    execute_process(COMMAND ${OBJCOPY} --add-gnu-debuglink=${WORK}/${id_dir}/${debug_file}
            ${target}.stripping ${target}
        RESULT_VARIABLE status)
endif()
file(REMOVE ${target}.stripping)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot strip ${BINARY} into ${target}")
endif()
# The build tree's run path (to an SDK's framework library, say) does not
# ship; the agent's machine finds its libraries in their usual places.
file(RPATH_REMOVE FILE ${target})
file(CHMOD ${target} FILE_PERMISSIONS ${permissions})
message(STATUS "Installing: ${target}")
