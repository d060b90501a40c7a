# Programs are laid out as bundles, as on the other target platform:
#   <Name>.app/Contents/Info.plist, Contents/MacOS/<exe>, Contents/Resources/
set(TAVO_BUNDLE_DIR ${CMAKE_BINARY_DIR}/bundles)

# tavo_bundle(NAME <bundle name> IDENTIFIER <id> [RESOURCES files...])
# Writes the bundle's Info.plist and copies its resources.
function(tavo_bundle)
  cmake_parse_arguments(B "" "NAME;IDENTIFIER" "RESOURCES" ${ARGN})
  set(contents ${TAVO_BUNDLE_DIR}/${B_NAME}.app/Contents)
  set(BUNDLE_NAME ${B_NAME})
  set(BUNDLE_IDENTIFIER ${B_IDENTIFIER})
  configure_file(${PROJECT_SOURCE_DIR}/resources/Info.plist.in ${contents}/Info.plist @ONLY)
  foreach(res IN LISTS B_RESOURCES)
    get_filename_component(parent ${res} DIRECTORY)
    get_filename_component(parent_name ${parent} NAME)
    get_filename_component(file_name ${res} NAME)
    # Full output paths: a folder that does not exist yet would otherwise be
    # written as a file of that name.
    if(parent_name MATCHES "\\.lproj$")
      set(lproj ${contents}/Resources/${parent_name})
      if(EXISTS ${lproj} AND NOT IS_DIRECTORY ${lproj})
        file(REMOVE ${lproj})  # left as a file by older build trees
      endif()
      configure_file(${res} ${contents}/Resources/${parent_name}/${file_name} COPYONLY)
    else()
      configure_file(${res} ${contents}/Resources/${file_name} COPYONLY)
    endif()
  endforeach()
endfunction()

# tavo_bundle_executable(<target> <bundle name>): places the executable in
# <bundle>.app/Contents/MacOS.
function(tavo_bundle_executable target bundle)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TAVO_BUNDLE_DIR}/${bundle}.app/Contents/MacOS)
endfunction()
