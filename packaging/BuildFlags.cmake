# Debian's hardening flags, as dpkg-buildflags gives them, for the build that is packaged:
# a stack protector, fortified libc calls and a read-only relocation table.
option(WARUKYARA_DEBIAN_BUILDFLAGS "Compile and link with the flags of dpkg-buildflags" OFF)
if(WARUKYARA_DEBIAN_BUILDFLAGS)
    find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${DPKG_BUILDFLAGS} --get ${kind}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    # The build type keeps its own optimisation and debug information.
    string(REGEX REPLACE "(^| )-(O[0-9s]?|g)( |$)" " " debian_CXXFLAGS "${debian_CXXFLAGS}")
    string(APPEND CMAKE_CXX_FLAGS " ${debian_CPPFLAGS} ${debian_CXXFLAGS}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${debian_LDFLAGS}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${debian_LDFLAGS}")
    message(STATUS "Debian build flags: ${debian_CPPFLAGS} ${debian_CXXFLAGS} ${debian_LDFLAGS}")
endif()
