# "cmake --install" and the Debian package put the launcher beside the daemon
# in the fixed tree under /opt/quorbix.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/quorbix CACHE PATH "Install prefix" FORCE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorbix-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/quorbix)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Start-up launcher of the quorbix Modbus-to-MQTT gateway daemon")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "quorbix team <quorbix@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The device binary links libstdc++ and libgcc statically: glibc is all it
# needs (2.34 and later carry the pthread and dl symbols in libc itself).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()
include(CPack)
