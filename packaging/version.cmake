# The package's version, from the project's version and the commit it is built from, so that a
# package built later from a later commit (or from changes not yet committed) is newer:
#   6.0+git<commits>.g<hash>            a build of a commit, <commits> counting up to it;
#   6.0+git<commits>.g<hash>.<UTC time> a build with changes not yet committed.
# Without git (a tree copied without its history) it is the project's version alone.
#   zev_package_version(OUT VERSION SOURCE_DIR)
function(zev_package_version out version source_dir)
  set(result ${version})
  find_program(ZEV_GIT git)
  if(ZEV_GIT)
    # The checkout may belong to another user (a clone built as root): asking is harmless.
    set(git ${ZEV_GIT} -c safe.directory=* -C ${source_dir})
    execute_process(COMMAND ${git} rev-list --count HEAD OUTPUT_VARIABLE commits
                    RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed)
      execute_process(COMMAND ${git} rev-parse --short=8 HEAD OUTPUT_VARIABLE hash
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${git} describe --always --dirty=+ OUTPUT_VARIABLE described
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(result "${version}+git${commits}.g${hash}")
      if(described MATCHES "\\+$")
        string(TIMESTAMP now "%Y%m%d%H%M%S" UTC)
        set(result "${result}.${now}")
      endif()
    endif()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# As a script: cmake -DVERSION=6.0 -DSOURCE_DIR=... -P version.cmake prints the version.
if(CMAKE_SCRIPT_MODE_FILE AND CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  zev_package_version(version ${VERSION} ${SOURCE_DIR})
  message("${version}")
endif()
