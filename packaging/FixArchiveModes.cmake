# Run by CPack after packaging. CPack writes each member of a .deb's outer ar archive with the
# mode its scratch file got from the builder's umask, so a group-writable umask gives another
# package. This sets every member's mode to 0644 in place, as dpkg-deb writes them.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    file(SIZE "${package}" end)
    set(header 8) # after "!<arch>\n"; each member is a 60-byte header, its data, even-padded
    while(header LESS end)
        file(READ "${package}" fields OFFSET ${header} LIMIT 60)
        string(SUBSTRING "${fields}" 48 10 size)
        string(STRIP "${size}" size)
        if(NOT size MATCHES "^[0-9]+$")
            message(FATAL_ERROR "${package}: no ar member header at byte ${header}")
        endif()
        math(EXPR mode_at "${header} + 40")
        execute_process(
            COMMAND sh -c "printf '100644  ' | dd of=\"$0\" bs=1 seek=$1 conv=notrunc status=none"
                    "${package}" ${mode_at}
            COMMAND_ERROR_IS_FATAL ANY)
        math(EXPR header "${header} + 60 + ${size} + ${size} % 2")
    endwhile()
endforeach()
