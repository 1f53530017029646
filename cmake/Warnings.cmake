# Every target of the project compiles with these warnings and keeps them at zero.
function(ecr_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor)
  if(ECR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
option(ECR_WERROR "Treat warnings as errors" ON)
