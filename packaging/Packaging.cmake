# Installation, and two Debian packages from the same rules (cpack -G DEB):
#   tvrbios      the utility a technician installs: sbin/tvrbios, tvrbios(8), the README;
#   tvrbios-emu  what developers and testers use: the emulator, the trap harness and its
#                preloaded library, their pages.
# Each holds its own copyright file and changelog; neither needs the other. The rules name
# targets, never source folders. The source package in debian/ installs each package by
# these rules' components, and its changelog, copyright file and descriptions are the ones
# used here.
include(GNUInstallDirs)

set(TVR_PACKAGE_MAINTAINER "tvrbios developers <tvrbios@tavrin.example>" CACHE STRING
    "Maintainer field of the Debian packages: the one who builds and publishes them")

set(tvr_debian_dir ${CMAKE_CURRENT_SOURCE_DIR}/debian)
set(tvr_compressed_dir ${CMAKE_BINARY_DIR}/compressed)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${tvr_debian_dir}/changelog ${tvr_debian_dir}/control)

# The changelog's newest entry is this release: a version raised without an entry fails here.
file(STRINGS ${tvr_debian_dir}/changelog tvr_changelog_head LIMIT_COUNT 1)
if(NOT tvr_changelog_head MATCHES "^tvrbios \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog does not begin with an entry for ${PROJECT_VERSION}")
endif()

# The newest entry is signed by whoever builds this release: its trailer names the
# maintainer, the older entries keep theirs.
function(tvr_write_signed_changelog output)
  file(READ ${tvr_debian_dir}/changelog changelog)
  string(FIND "${changelog}" "\n -- " trailer)
  math(EXPR name_start "${trailer} + 5")
  string(SUBSTRING "${changelog}" ${name_start} -1 rest)
  string(FIND "${rest}" ">  " name_length)
  math(EXPR name_length "${name_length} + 1")
  string(SUBSTRING "${changelog}" 0 ${name_start} head)
  string(SUBSTRING "${rest}" ${name_length} -1 tail)
  file(WRITE ${output}.new "${head}${TVR_PACKAGE_MAINTAINER}${tail}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  file(REMOVE ${output}.new)
endfunction()
tvr_write_signed_changelog(${CMAKE_BINARY_DIR}/changelog)

# A package's description as debian/control gives it: the summary, then the paragraphs.
function(tvr_control_description package out)
  file(READ ${tvr_debian_dir}/control control)
  if(NOT control MATCHES "\nPackage: ${package}\n([^\n]+\n)*Description: ([^\n]*)((\n [^\n]*)*)")
    message(FATAL_ERROR "debian/control describes no package ${package}")
  endif()
  set(text "${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
  string(REPLACE "\n .\n" "\n\n" text "${text}")
  string(REPLACE "\n " "\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

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
foreach(page tvrbios.8 tvrbios-emu.1 tvrbios-trap.1)
  tvr_compress(${CMAKE_CURRENT_SOURCE_DIR}/man/${page})
endforeach()
tvr_compress(${CMAKE_BINARY_DIR}/changelog)
add_custom_target(tvr-compressed ALL DEPENDS ${tvr_compressed_files})

# The documents every package carries under its own name.
function(tvr_install_package_documents component package)
  install(FILES ${tvr_debian_dir}/copyright ${tvr_compressed_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

# A stripped install (cpack, cmake --install --strip) also takes out of each binary what
# Debian's dh_strip does: the compilers' version notes, which nothing reads.
function(tvr_install_binary target kind destination component)
  install(TARGETS ${target} ${kind} DESTINATION ${destination} COMPONENT ${component})
  set(installed "${destination}/$<TARGET_FILE_NAME:${target}>")
  if(NOT IS_ABSOLUTE ${destination})
    set(installed "\${CMAKE_INSTALL_PREFIX}/${installed}")
  endif()
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                            --remove-section=.note \"\$ENV{DESTDIR}${installed}\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT ${component})
endfunction()

tvr_install_binary(tvrbios RUNTIME ${CMAKE_INSTALL_SBINDIR} utility)
install(FILES ${tvr_compressed_dir}/tvrbios.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT utility)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrbios COMPONENT utility)
tvr_install_package_documents(utility tvrbios)

foreach(program tvrbios-emu tvrbios-trap)
  if(TARGET ${program})
    tvr_install_binary(${program} RUNTIME ${CMAKE_INSTALL_BINDIR} emulator)
    install(FILES ${tvr_compressed_dir}/${program}.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT emulator)
  endif()
endforeach()
if(TARGET tvrbios-trap-preload)
  tvr_install_binary(tvrbios-trap-preload LIBRARY ${CMAKE_INSTALL_LIBDIR}/tvrbios emulator)
endif()
if(TARGET tvrbios-emu)
  tvr_install_package_documents(emulator tvrbios-emu)
endif()

set(CPACK_PACKAGE_NAME tvrbios)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_CONTACT "${TVR_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
# Two package builds of the same commit give the same bytes: cpack dates every file and
# archive member from SOURCE_DATE_EPOCH, the last commit's time when the builder sets none.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/packaging/SourceDate.cmake)
set(CPACK_TVR_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
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
tvr_control_description(tvrbios CPACK_COMPONENT_UTILITY_DESCRIPTION)

set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME tvrbios-emu)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SUGGESTS tvrbios)
tvr_control_description(tvrbios-emu CPACK_COMPONENT_EMULATOR_DESCRIPTION)

include(CPack)
