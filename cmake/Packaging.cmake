# A Debian package of the plug-in and handler-inspect, for the architecture
# being built: amd64 from the native build, arm64 from the aarch64 one. The
# stand-in framework is the agent's and never goes into it.

if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
    set(deb_architecture arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
    set(deb_architecture amd64)
else()
    message(WARNING "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}; no package")
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nutanix-instance-handler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Nutanix instance handler developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Backup-agent instance handler plug-in for the instance type nutanix")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The agent loads libnutanix_instance_handler.so from its instance-handler\n\
folder and gets from its factory a handler that reports the Nutanix_Proxy\n\
instance. handler-inspect shows what an instance-handler library offers.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Nutanix instance handler developers <nutanix-instance-handler@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_architecture})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

# Depends comes from the symbol versions the shipped files need, read when the
# package is made: dpkg-shlibdeps knows only the build machine's architecture.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT "\
set(package_binaries \"$<TARGET_FILE:nutanix_instance_handler>;$<TARGET_FILE:handler-inspect>\")
set(package_readelf \"${CMAKE_READELF}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake\")
")

include(CPack)
