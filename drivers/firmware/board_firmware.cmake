# vok_board_firmware(TARGET SYMBOL PROTOCOL SOURCE...) builds a board's image as
# vok_firmware does, from sources that share the board's protocol header
# PROTOCOL with its driver: C sources include it, assembly sources include the
# equates made of it (PROTOCOL's name with .inc, next to the objects) and the
# shared macros (drivers/firmware/*.inc). Every object is rebuilt when one of
# them changes.
function(vok_board_firmware target symbol protocol)
  vok_firmware(${target} ${symbol} ${ARGN})
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  get_filename_component(protocol ${protocol} ABSOLUTE)
  get_filename_component(name ${protocol} NAME_WE)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(equates ${out_dir}/${name}.inc)
  add_custom_command(OUTPUT ${equates}
    COMMAND ${Python3_EXECUTABLE} ${VOK_FIRMWARE_DIR}/protocol_equates.py ${protocol} ${equates}
    DEPENDS ${protocol} ${VOK_FIRMWARE_DIR}/protocol_equates.py
    COMMENT "Assembler equates of ${name}.h" VERBATIM)
  # Whatever links the image (the board's driver, the tests that build the
  # driver's source) also includes the protocol and the drivers' common header.
  get_filename_component(protocol_dir ${protocol} DIRECTORY)
  target_include_directories(${target} INTERFACE ${protocol_dir} ${PROJECT_SOURCE_DIR}/drivers/common)
  file(GLOB shared_includes CONFIGURE_DEPENDS ${VOK_FIRMWARE_DIR}/*.inc)
  foreach(src ${ARGN})
    get_filename_component(src_name ${src} NAME_WE)
    add_custom_command(OUTPUT ${out_dir}/${src_name}.rel APPEND
                       DEPENDS ${protocol} ${equates} ${shared_includes})
  endforeach()
endfunction()
