# Run by CPack after packaging. CMake's debug-symbols package lists its file in md5sums by the
# absolute path of CPack's scratch folder, and has no documentation folder; Debian's tools
# reject both. This rebuilds it as Debian's own -dbgsym packages are: md5sums relative to the
# root, and the documentation folder a link to the main package's.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
        continue()
    endif()
    set(root "${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-fixed")
    file(REMOVE_RECURSE "${root}")
    execute_process(COMMAND dpkg-deb -R "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE files RELATIVE "${root}" "${root}/usr/*")
    set(sums "")
    foreach(file IN LISTS files)
        file(MD5 "${root}/${file}" sum)
        string(APPEND sums "${sum}  ${file}\n")
    endforeach()
    file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
    file(MAKE_DIRECTORY "${root}/usr/share/doc")
    # The folders and files come with the builder's umask; packed as they are, a group-writable
    # umask would give another package. Debian's own are 0755 and 0644.
    file(GLOB_RECURSE entries LIST_DIRECTORIES true "${root}/*")
    foreach(entry IN LISTS entries)
        if(IS_SYMLINK "${entry}")
            continue()
        elseif(IS_DIRECTORY "${entry}")
            file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                 GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        else()
            file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        endif()
    endforeach()
    file(CREATE_LINK ${CPACK_PACKAGE_NAME} "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym"
         SYMBOLIC)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${root}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${root}")
endforeach()
