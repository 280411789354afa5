# What ships, and its Debian packages: the plug-in alone in
# nutanix-instance-handler, the tool and its man page in handler-inspect,
# and the detached debug info of each in a -dbgsym package. The stand-in
# framework is the agent's and never goes into any of them.

set(NUTANIX_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/agent/instance_handlers CACHE STRING
    "Where the plug-in is installed, relative to the prefix")
set(NUTANIX_PACKAGE_MAINTAINER
    "Nutanix instance handler developers <nutanix-instance-handler@example.org>" CACHE STRING
    "The Maintainer field of the Debian packages")
set(NUTANIX_PACKAGE_HOMEPAGE "https://example.org/nutanix-instance-handler" CACHE STRING
    "The Homepage field of the Debian packages")
set(package_revision 1)
set(package_version ${PROJECT_VERSION}-${package_revision})
set(plugin_package nutanix-instance-handler)
set(tool_package handler-inspect)

# install_stripped(TARGET DESTINATION KIND COMPONENT): TARGET stripped into
# COMPONENT and its debug info into COMPONENT_dbgsym.
function(install_stripped target destination kind component)
    set(work ${CMAKE_BINARY_DIR}/debug-info/${target})
    foreach(part binary debug)
        set(part_component ${component})
        if(part STREQUAL "debug")
            set(part_component ${component}_dbgsym)
        endif()
        install(CODE "
            set(BINARY \"$<TARGET_FILE:${target}>\")
            set(DESTINATION \"${destination}\")
            set(KIND ${kind})
            set(PART ${part})
            set(WORK \"${work}\")
            set(OBJCOPY \"${CMAKE_OBJCOPY}\")
            set(READELF \"${CMAKE_READELF}\")
            include(\"${PROJECT_SOURCE_DIR}/cmake/InstallStripped.cmake\")"
            COMPONENT ${part_component})
    endforeach()
endfunction()

# install_package_docs(PACKAGE COMPONENT): copyright and changelog, as Debian
# keeps them; a -dbgsym package's folder is a link to its package's.
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
set(man_page_gz ${CMAKE_BINARY_DIR}/packaging/handler-inspect.1.gz)
add_custom_command(OUTPUT ${changelog_gz} ${man_page_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog_gz}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/handler-inspect.1 > ${man_page_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_SOURCE_DIR}/packaging/handler-inspect.1
    COMMENT "Compressing the changelog and the man page"
    VERBATIM)
add_custom_target(package_documents ALL DEPENDS ${changelog_gz} ${man_page_gz})
function(install_package_docs package component)
    set(doc ${CMAKE_INSTALL_DATADIR}/doc)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_gz}
        DESTINATION ${doc}/${package} COMPONENT ${component})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/${package}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
    install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${doc}\")
        file(CREATE_LINK ${package} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${doc}/${package}-dbgsym\" SYMBOLIC)"
        COMPONENT ${component}_dbgsym)
endfunction()

install_stripped(nutanix_instance_handler ${NUTANIX_PLUGIN_INSTALL_DIR} library plugin)
install_package_docs(${plugin_package} plugin)
install_stripped(handler-inspect ${CMAKE_INSTALL_BINDIR} program tools)
install_package_docs(${tool_package} tools)
install(FILES ${man_page_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
    set(deb_architecture arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
    set(deb_architecture amd64)
else()
    message(WARNING "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}; no package")
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin plugin_dbgsym tools tools_dbgsym)
set(CPACK_PACKAGE_NAME ${plugin_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPack puts a summary of its own before each component's description unless
# the summary is its default; each description below starts with its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_PACKAGE_SOURCE ${plugin_package})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${package_revision})
set(CPACK_PACKAGE_VENDOR "Nutanix instance handler developers")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NUTANIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${NUTANIX_PACKAGE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_architecture})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Stripping is install_stripped()'s: CPack's own would drop the debug link.
set(CPACK_STRIP_FILES OFF)

# A plug-in built against the stand-in bakes in the stand-in's layouts.
if(AGENT_SDK_INCLUDE_DIR)
    set(stand_in_note "")
else()
    set(stand_in_note "\n.\nThis build is compiled against a stand-in of the agent's framework, for\ntests and demonstration; it is not for use in the agent.")
endif()

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME ${plugin_package})
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PLUGIN_DESCRIPTION "instance handler plug-in for the instance type nutanix
The backup agent loads libnutanix_instance_handler.so from its
instance-handler folder and gets from its factory a handler that reports
the Nutanix_Proxy instance, answers enabled to every state query and
accepts every logon.${stand_in_note}")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${tool_package})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "show and check what an instance-handler library offers
handler-inspect loads a backup agent's instance-handler plug-in in a child
process, shows what its handler offers, and with --check validates it
against the contract that the agent relies on. A library that crashes,
hangs or prints cannot harm it.${stand_in_note}")

foreach(component PLUGIN TOOLS)
    string(TOLOWER ${component} lower)
    set(CPACK_DEBIAN_${component}_DBGSYM_PACKAGE_NAME ${CPACK_DEBIAN_${component}_PACKAGE_NAME}-dbgsym)
    set(CPACK_DEBIAN_${component}_DBGSYM_PACKAGE_SECTION debug)
    set(CPACK_DEBIAN_${component}_DBGSYM_PACKAGE_DEPENDS
        "${CPACK_DEBIAN_${component}_PACKAGE_NAME} (= ${package_version})")
    set(CPACK_DEBIAN_${component}_DBGSYM_DESCRIPTION
        "debug symbols for ${CPACK_DEBIAN_${component}_PACKAGE_NAME}
The detached debug information of the ${CPACK_DEBIAN_${component}_PACKAGE_NAME} package's
binaries, found by their build-id, for debuggers and crash reports.")
endforeach()

# Run by cpack before it packs: it sets what is known only then.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
set(cpack_config "")

# Depends: dpkg-shlibdeps where it knows the architecture (a native build);
# for a cross build, the symbol versions the files need.
if(CMAKE_CROSSCOMPILING)
    string(APPEND cpack_config "\
set(package_readelf \"${CMAKE_READELF}\")
foreach(component PLUGIN TOOLS)
    if(component STREQUAL PLUGIN)
        set(package_binaries \"$<TARGET_FILE:nutanix_instance_handler>\")
    else()
        set(package_binaries \"$<TARGET_FILE:handler-inspect>\")
    endif()
    include(\"${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake\")
    set(CPACK_DEBIAN_\${component}_PACKAGE_DEPENDS \"\${package_depends}\")
endforeach()
")
else()
    set(CPACK_DEBIAN_PLUGIN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
endif()

# Packages made at different times from the same commit are the same to the
# byte: their timestamps are the last commit's, unless SOURCE_DATE_EPOCH says
# otherwise.
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT commit_time)
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/packaging/changelog commit_time "%s" UTC)
endif()
string(APPEND cpack_config "\
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
")
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT "${cpack_config}")

include(CPack)
