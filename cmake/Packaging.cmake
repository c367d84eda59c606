# "cmake --install" and the device's Debian packages put the launcher and the
# checker beside the daemon in the fixed tree under /opt/quorbix. A host build
# packages only the checker, for workstations and CI machines, under /usr.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/quorbix CACHE PATH "Install prefix" FORCE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorbix-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "quorbix team <quorbix@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  set(QUORBIX_PACKAGE_DEVICE ON)
endif()

# One package per program: the launcher's install component and the
# checker's, each with its own name, description and dependencies.
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(QUORBIX_PACKAGE_DEVICE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /opt/quorbix)
  set(CPACK_COMPONENTS_ALL launcher check)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_COMPONENTS_ALL check)
endif()

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME quorbix-launcher)
set(CPACK_DEBIAN_LAUNCHER_DESCRIPTION
  "Start-up launcher of the quorbix Modbus-to-MQTT gateway daemon")
# The device binary links libstdc++ and libgcc statically: glibc is all it
# needs (2.34 and later carry the pthread and dl symbols in libc itself).
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "libc6 (>= 2.34)")

set(CPACK_DEBIAN_CHECK_PACKAGE_NAME quorbix-check)
set(CPACK_DEBIAN_CHECK_DESCRIPTION
  "Says what a quorbix gateway settings file will do before a device runs it")
if(QUORBIX_PACKAGE_DEVICE)
  # The checker adds OpenSSL (libssl3), at least of the version it was built
  # against: the one in the build's armhf sysroot.
  find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
  set(CPACK_DEBIAN_CHECK_PACKAGE_DEPENDS "libc6 (>= 2.34), libssl3 (>= ${OPENSSL_VERSION})")
else()
  # The host binary links libstdc++ and libgcc dynamically: dpkg-shlibdeps
  # names the packages of the libraries it really needs.
  set(CPACK_DEBIAN_CHECK_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
