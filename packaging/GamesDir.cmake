# The program goes where Debian keeps games, /usr/games, unless the builder chose a folder.
# A build folder configured before this rule holds GNUInstallDirs' "bin": that one moves too.
get_property(bindir_help CACHE CMAKE_INSTALL_BINDIR PROPERTY HELPSTRING)
if(NOT DEFINED CACHE{CMAKE_INSTALL_BINDIR}
   OR ("$CACHE{CMAKE_INSTALL_BINDIR}" STREQUAL "bin" AND bindir_help STREQUAL "User executables (bin)"))
    set(CMAKE_INSTALL_BINDIR games CACHE PATH "Folder of the program, under the prefix" FORCE)
endif()
