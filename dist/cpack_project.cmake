# Read by cpack when it packages: the shared libraries' dependencies need
# dpkg-shlibdeps (Debian's dpkg-dev, which scripts/package installs). A
# machine without it still builds the package, with only the dependencies
# written in dist/CMakeLists.txt, and says so.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  find_program(CLINIC_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT CLINIC_DPKG_SHLIBDEPS)
    message(WARNING "dpkg-shlibdeps not found (Debian package dpkg-dev): the package will not list its shared libraries")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  endif()
endif()
