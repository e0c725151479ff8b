# Compiler and linker flags shared by every target.
#
# The daemon runs as root and parses datagrams from anyone on the segment,
# so it is built hardened: fortified libc calls, stack protector and clash
# protection, PIE and full RELRO with a non-executable stack.

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
  # _FORTIFY_SOURCE needs optimisation; sanitizer builds do without it.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3)
endif()
add_compile_options(-fstack-protector-strong -fstack-clash-protection)
add_link_options(-pie -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
