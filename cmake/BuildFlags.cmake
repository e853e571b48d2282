# The flags a Debian package build gives (dpkg-buildflags with hardening=+all), in every
# build: the utility runs as root and parses files from the user. Stack protector, the C
# library's checked calls, format checks, relocations read-only and bound at start, and
# position-independent programs. They come before the builder's own CXXFLAGS and LDFLAGS,
# which may change any of them.
option(TVR_HARDEN "Build with the hardening flags of Debian's package builds" ON)
if(TVR_HARDEN)
  string(PREPEND CMAKE_CXX_FLAGS
         "-fstack-protector-strong -Wformat -Werror=format-security -Wdate-time -fPIE ")
  string(PREPEND CMAKE_EXE_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now -pie ")
  string(PREPEND CMAKE_SHARED_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now ")
  # The checked calls need the optimiser; the sanitizers check the same accesses their own
  # way. A level the builder chose stays.
  if(NOT TVR_SANITIZE AND NOT TVR_FUZZ AND NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  endif()
endif()

# The build's folders leave the binaries (debug information, assertion texts), so that two
# builds of the same sources in two folders give the same bytes.
string(PREPEND CMAKE_CXX_FLAGS
       "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=. ")
