# Compiler and linker flags shared by every target.
#
# The daemon runs as root and parses datagrams from anyone on the segment,
# so it is built hardened: fortified libc calls, stack protector and clash
# protection, control-flow protection where the processor has it, checked
# C++ library preconditions, PIE and full RELRO with a non-executable stack.

include(CheckCXXCompilerFlag)

add_compile_options(-Wall -Wextra -Wformat=2 -Wshadow -Wconversion -Wno-sign-conversion
                    -Wcast-qual -Wnull-dereference)
if(TARN_WERROR)
  add_compile_options(-Werror)
endif()

if(TARN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TARN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
else()
  # _FORTIFY_SOURCE needs optimisation: every optimised build type has it;
  # sanitizer builds do without it.
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
endif()
add_compile_options(-fstack-protector-strong -fstack-clash-protection -D_GLIBCXX_ASSERTIONS)
# Indirect branch tracking and shadow stack: x86 only; other processors'
# compilers refuse the flag.
check_cxx_compiler_flag(-fcf-protection TARN_HAVE_CF_PROTECTION)
if(TARN_HAVE_CF_PROTECTION)
  add_compile_options(-fcf-protection)
endif()
add_link_options(-pie -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
