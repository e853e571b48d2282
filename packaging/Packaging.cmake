# Installation, and two Debian packages from the same rules (cpack -G DEB):
#   tvrbios      the utility a technician installs: sbin/tvrbios, tvrbios(8), the README;
#   tvrbios-emu  what developers and testers use: the emulator, the trap harness and its
#                preloaded library, their pages.
# Each holds its own copyright file and changelog; neither needs the other. The rules name
# targets, never source folders.
include(GNUInstallDirs)

set(TVR_PACKAGE_MAINTAINER "tvrbios developers <tvrbios@tavrin.example>" CACHE STRING
    "Maintainer field of the Debian packages: the one who builds and publishes them")

set(tvr_packaging_dir ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(tvr_compressed_dir ${CMAKE_BINARY_DIR}/compressed)

# The changelog's newest entry is this release: a version raised without an entry fails here.
file(STRINGS ${tvr_packaging_dir}/changelog tvr_changelog_head LIMIT_COUNT 1)
if(NOT tvr_changelog_head MATCHES "^tvrbios \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with an entry for ${PROJECT_VERSION}")
endif()

# Manual pages and the changelog go into the packages compressed, as gzip -9n makes them
# (no name or time stamp inside, so that two builds give the same bytes).
set(tvr_compressed_files)
function(tvr_compress source)
  get_filename_component(name ${source} NAME)
  set(copy ${tvr_compressed_dir}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(tvr_compressed_files ${tvr_compressed_files} ${copy}.gz PARENT_SCOPE)
endfunction()
foreach(source man/tvrbios.8 man/tvrbios-emu.1 man/tvrbios-trap.1 packaging/changelog)
  tvr_compress(${CMAKE_CURRENT_SOURCE_DIR}/${source})
endforeach()
add_custom_target(tvr-compressed ALL DEPENDS ${tvr_compressed_files})

# The documents every package carries under its own name.
function(tvr_install_package_documents component package)
  install(FILES ${tvr_packaging_dir}/copyright ${tvr_compressed_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

install(TARGETS tvrbios RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT utility)
install(FILES ${tvr_compressed_dir}/tvrbios.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT utility)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrbios COMPONENT utility)
tvr_install_package_documents(utility tvrbios)

foreach(program tvrbios-emu tvrbios-trap)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT emulator)
    install(FILES ${tvr_compressed_dir}/${program}.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT emulator)
  endif()
endforeach()
if(TARGET tvrbios-trap-preload)
  install(TARGETS tvrbios-trap-preload LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tvrbios
          COMPONENT emulator)
endif()
if(TARGET tvrbios-emu)
  tvr_install_package_documents(emulator tvrbios-emu)
endif()

set(CPACK_PACKAGE_NAME tvrbios)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_CONTACT "${TVR_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL utility)
if(TARGET tvrbios-emu)
  list(APPEND CPACK_COMPONENTS_ALL emulator)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps writes Depends with the library versions the programs were linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_UTILITY_PACKAGE_NAME tvrbios)
set(CPACK_DEBIAN_UTILITY_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_UTILITY_DESCRIPTION "reprogram the video BIOS of Tavrin graphics cards
tvrbios reads, reports and reprograms the video BIOS of Tavrin PCI graphics
cards, kept in a 128 KiB SPI flash part on the card (AT25F1024, M25P10 or
SST25VF010). It reaches the flash without a kernel driver, through the PCI
configuration ports, /dev/mem and one card register.

It saves the card's whole EEPROM to a file, programs a BIOS file while
keeping the card's own board record (PInS), calibration block and subsystem
word, shows and edits the board record as text, saves the calibration block,
sets the TV-out standard and lists the supported cards present.

Only root may run it. The emulator that runs it without a card is in the
package tvrbios-emu.")

set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME tvrbios-emu)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SUGGESTS tvrbios)
set(CPACK_COMPONENT_EMULATOR_DESCRIPTION "emulated PC and Tavrin cards for the tvrbios utility
tvrbios-emu runs the same program as tvrbios on an emulated PC: its PCI
configuration ports, interval timer and physical memory, and Tavrin cards
with their flash parts, all on a virtual clock. It needs no privilege and
touches nothing of the real machine; it injects faults and power cuts and
records the card's serial lines for a waveform viewer.

tvrbios-trap runs an unchanged native program, normally tvrbios itself, on
the same emulated machine: a preloaded library answers its port
instructions and register accesses.

These are tools for developers and testers of the utility; a technician who
programs a card needs only the package tvrbios.")

include(CPack)
