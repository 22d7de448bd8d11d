# Read by cpack when it packages: the shared libraries' dependencies need
# dpkg-shlibdeps (Debian's dpkg-dev) and `file` (which scripts/package
# installs). A machine without them still builds the package, with only
# the dependencies written in dist/CMakeLists.txt, and says so.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  find_program(CLINIC_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(CLINIC_FILE file)
  if(NOT CLINIC_DPKG_SHLIBDEPS OR NOT CLINIC_FILE)
    message(WARNING "dpkg-shlibdeps or file not found (Debian packages dpkg-dev, file): the package will not list its shared libraries")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  endif()
endif()
