# "cmake --install" and the Debian packages put the launcher and the checker
# beside the daemon in the fixed tree under /opt/quorbix.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/quorbix CACHE PATH "Install prefix" FORCE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorbix-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/quorbix)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "quorbix team <quorbix@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()

# One package per program: the launcher's install component and the
# checker's, each with its own name, description and dependencies.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL launcher check)

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME quorbix-launcher)
set(CPACK_DEBIAN_LAUNCHER_DESCRIPTION
  "Start-up launcher of the quorbix Modbus-to-MQTT gateway daemon")
# The device binary links libstdc++ and libgcc statically: glibc is all it
# needs (2.34 and later carry the pthread and dl symbols in libc itself).
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "libc6 (>= 2.34)")

set(CPACK_DEBIAN_CHECK_PACKAGE_NAME quorbix-check)
set(CPACK_DEBIAN_CHECK_DESCRIPTION
  "Says what a quorbix gateway settings file will do before a device runs it")
# The checker adds OpenSSL's libcrypto (libssl3), which it uses from 3.0.0.
set(CPACK_DEBIAN_CHECK_PACKAGE_DEPENDS "libc6 (>= 2.34), libssl3 (>= 3.0.0)")
include(CPack)
