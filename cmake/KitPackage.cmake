# Run by CPack (generator External) with the staged install tree: scripts/lib/kit.py adds the
# notices, the bill of materials and the checksums and writes the reproducible zip or .deb.
execute_process(COMMAND python3 ${CPACK_VEMLO_SOURCE_DIR}/scripts/lib/kit.py pack
                        ${CPACK_VEMLO_MANIFEST} ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_PACKAGE_DIRECTORY}
                RESULT_VARIABLE rc OUTPUT_VARIABLE made)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the kit could not be packed (scripts/lib/kit.py exited with ${rc})")
endif()
string(STRIP "${made}" made)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${made})
