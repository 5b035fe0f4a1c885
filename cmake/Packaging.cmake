# The Linux package: vornix-cli and routersim in /usr/bin, as
# vornix-cli_<version>_amd64.deb. Native build only; scripts/package runs
# cpack after building the two programs.
install(TARGETS vornix-cli routersim RUNTIME DESTINATION bin)

# cpack installs what is built; it must not build the whole tree, tests and
# benchmarks included, first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornix-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vornix)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Router production line station tool, headless, with a simulated router")
set(CPACK_PACKAGE_DESCRIPTION "vornix-cli runs the Vornix station from a directory holding setup.ini: it
checks that the router answers, writes and verifies its MAC addresses and
environment over telnet and updates its boot loader from the station's FTP
server. vornix-cli --serve shows the line's routers, yield, MAC pools and
where every address went as web pages and a JSON API, read-only and offline.
routersim is a simulated router to rehearse the line against.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vornix developers <dev@vornix.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# iproute2 flushes the neighbour cache before each echo; the libraries come
# from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS iproute2)
include(CPack)
