# The register server's language modules: Qt translation files built from the .ts sources
# here and laid beside the program, named like it with a language's three-letter
# abbreviation as extension (harbendix.BGR). Include this file from server_app/ after the
# harbendix target is defined.
set(ecr_harbendix_languages BGR)
get_target_property(ecr_harbendix_dir harbendix RUNTIME_OUTPUT_DIRECTORY)
if(NOT ecr_harbendix_dir)
  set(ecr_harbendix_dir ${CMAKE_CURRENT_BINARY_DIR})
endif()
set(ecr_harbendix_modules)
foreach(abbreviation IN LISTS ecr_harbendix_languages)
  set(source ${CMAKE_CURRENT_LIST_DIR}/harbendix_${abbreviation}.ts)
  set(module ${ecr_harbendix_dir}/harbendix.${abbreviation})
  add_custom_command(
    OUTPUT ${module}
    COMMAND Qt6::lrelease -silent ${source} -qm ${module}
    DEPENDS ${source}
    COMMENT "Building language module harbendix.${abbreviation}"
    VERBATIM)
  list(APPEND ecr_harbendix_modules ${module})
endforeach()
add_custom_target(harbendix_languages ALL DEPENDS ${ecr_harbendix_modules})
add_dependencies(harbendix harbendix_languages)
