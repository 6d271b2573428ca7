# Read by CPack before it packs. Every time the package records (its files', its archives') is
# the source's own, so the package does not change with the day it is built: the builder's
# SOURCE_DATE_EPOCH if set, else the last commit's time, else the changelog's outside git.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    execute_process(COMMAND git -C "${CPACK_WARUKYARA_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT epoch MATCHES "^[0-9]+$")
        execute_process(COMMAND dpkg-parsechangelog -STimestamp
                                -l "${CPACK_WARUKYARA_SOURCE_DIR}/packaging/debian/changelog"
                        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
