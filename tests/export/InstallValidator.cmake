# Installs the Khronos glTF Validator (npm package gltf-validator) under PREFIX, unless that
# version is there already.
set(version 2.0.0-dev.3.10)
set(package ${PREFIX}/node_modules/gltf-validator/package.json)
if(EXISTS ${package})
  file(READ ${package} text)
  if(text MATCHES "\"version\": *\"${version}\"")
    return()
  endif()
endif()
execute_process(
  COMMAND ${NPM} install --no-audit --no-fund --prefix ${PREFIX} gltf-validator@${version}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "npm could not install gltf-validator@${version}")
endif()
