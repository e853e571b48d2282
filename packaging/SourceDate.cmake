# Read by cpack before it builds the packages: the time every file and archive member of
# the packages carries. A builder's SOURCE_DATE_EPOCH stays; otherwise the last commit's
# time, and outside a git checkout the newest changelog entry's, as Debian's builds take it.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CPACK_TVR_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE tvr_source_date OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE tvr_git_failed ERROR_QUIET)
  if(tvr_git_failed OR NOT tvr_source_date)
    execute_process(COMMAND dpkg-parsechangelog -l ${CPACK_TVR_SOURCE_DIR}/debian/changelog
                            -STimestamp
                    OUTPUT_VARIABLE tvr_source_date OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${tvr_source_date})
endif()
