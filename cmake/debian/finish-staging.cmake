# Run by CPack on the staged files of the .deb, before it packs them: adds
# what Debian wants beyond what "cmake --install" puts in place.
set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})

# gzip -9n: the best compression, and no time stamp in the file, so that
# the same sources give the same package.
function(gzip_into_place file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file}: ${status}")
  endif()
endfunction()

file(GLOB pages ${usr}/${CPACK_ESTACOUNT_MAN_DIR}/man*/*)
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    gzip_into_place(${page})
  endif()
endforeach()

file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_ESTACOUNT_COPYRIGHT} ${doc}/copyright)
file(COPY_FILE ${CPACK_ESTACOUNT_CHANGELOG} ${doc}/changelog)
gzip_into_place(${doc}/changelog)
file(CHMOD ${doc}/copyright ${doc}/changelog.gz PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Compressed above 4 KiB, as dh_compress does: zless and zcat read either.
foreach(source IN LISTS CPACK_ESTACOUNT_DOCS)
  get_filename_component(name ${source} NAME)
  file(COPY_FILE ${source} ${doc}/${name})
  file(CHMOD ${doc}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(SIZE ${doc}/${name} size)
  if(size GREATER 4096)
    gzip_into_place(${doc}/${name})
  endif()
endforeach()

# A plain install keeps the units under share/estacount, out of the way of
# the system's own; a package puts them where systemd looks.
set(units ${usr}/${CPACK_ESTACOUNT_SYSTEMD_UNIT_DIR})
if(NOT IS_ABSOLUTE "${CPACK_ESTACOUNT_SYSTEMD_UNIT_DIR}" AND IS_DIRECTORY ${units}
   AND NOT CPACK_ESTACOUNT_SYSTEMD_UNIT_DIR STREQUAL "lib/systemd/system")
  file(GLOB unit_files ${units}/*)
  file(MAKE_DIRECTORY ${usr}/lib/systemd/system)
  foreach(unit IN LISTS unit_files)
    get_filename_component(name ${unit} NAME)
    file(RENAME ${unit} ${usr}/lib/systemd/system/${name})
  endforeach()
  file(REMOVE_RECURSE ${units})
endif()

# The cron lines go with the package alone: they name its /usr paths, and a
# plain install has no business in /etc.
file(MAKE_DIRECTORY ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/etc/cron.d)
file(COPY_FILE ${CPACK_ESTACOUNT_CRON_D} ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/etc/cron.d/estacount)
file(CHMOD ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/etc/cron.d/estacount PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
