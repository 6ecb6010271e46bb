# FIRMSTEP_SANITIZE is handed to -fsanitize= for every target, compile and link.
if(FIRMSTEP_SANITIZE)
  add_compile_options(-fsanitize=${FIRMSTEP_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${FIRMSTEP_SANITIZE})
endif()
