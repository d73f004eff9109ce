# Building 8051 firmware images with SDCC.
#
# vok_firmware(TARGET SYMBOL SOURCE...) compiles the C (.c) and assembly (.asm,
# .s, .a51) sources, the first one holding main, links them with the code
# shared by every image (library vokfw.lib, built here), and turns the result
# into an image of exactly 4096 bytes (free space 0xAA, LJMP at byte 0). The
# build fails when the code does not fit. TARGET becomes an object library
# holding a C source that defines `const unsigned char SYMBOL[4096]` as exported
# data; link it into the driver. Its properties FIRMWARE_BIN (raw image),
# FIRMWARE_IHX and FIRMWARE_MAP name the other outputs; the C declaration is in
# SYMBOL_image.h on the target's include path.

find_program(VOK_SDCC sdcc REQUIRED)
find_program(VOK_SDAS sdas8051 REQUIRED)
find_program(VOK_SDAR sdar REQUIRED)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(VOK_FIRMWARE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "shared firmware sources")
# The chip's register list: an2131.h expands it for C, and the build writes it
# out as an2131.inc, the equates that assembly sources .include.
set(VOK_FIRMWARE_REGISTERS ${PROJECT_SOURCE_DIR}/include/an2131_registers.def CACHE INTERNAL "")
set(VOK_FIRMWARE_INC_DIR ${CMAKE_BINARY_DIR}/firmware_include CACHE INTERNAL "")
set(VOK_FIRMWARE_CFLAGS -mmcs51 --model-small --std-sdcc99 CACHE INTERNAL "")
# Code from 0; xdata in the rest of the internal RAM, below the 0x1B40 alias of
# the endpoint buffers; the stack in the 256 bytes of internal RAM.
set(VOK_FIRMWARE_LDFLAGS --code-loc 0x0000 --code-size 0x1000 --iram-size 256
    --xram-loc 0x1000 --xram-size 0x0B40 CACHE INTERNAL "")

# Compiles one source into OUT_DIR; the object's path goes into out_var.
function(_vok_firmware_object out_var out_dir src)
  get_filename_component(src ${src} ABSOLUTE)
  get_filename_component(name ${src} NAME_WE)
  get_filename_component(ext ${src} LAST_EXT)
  get_filename_component(src_dir ${src} DIRECTORY)
  set(rel ${out_dir}/${name}.rel)
  file(GLOB headers CONFIGURE_DEPENDS ${VOK_FIRMWARE_DIR}/*.h ${src_dir}/*.h)
  if(ext STREQUAL ".c")
    add_custom_command(OUTPUT ${rel}
      COMMAND ${VOK_SDCC} ${VOK_FIRMWARE_CFLAGS} -I${VOK_FIRMWARE_DIR} -I${PROJECT_SOURCE_DIR}/include
              -I${src_dir} -c ${src} -o ${rel}
      DEPENDS ${src} ${headers} ${VOK_FIRMWARE_REGISTERS}
      WORKING_DIRECTORY ${out_dir}
      COMMENT "SDCC ${name}.c" VERBATIM)
  else()
    add_custom_command(OUTPUT ${rel}
      COMMAND ${VOK_SDAS} -plosgff -I${VOK_FIRMWARE_INC_DIR} ${rel} ${src}
      DEPENDS ${src} ${VOK_FIRMWARE_INC_DIR}/an2131.inc
      WORKING_DIRECTORY ${out_dir}
      COMMENT "sdas8051 ${name}${ext}" VERBATIM)
  endif()
  set(${out_var} ${rel} PARENT_SCOPE)
endfunction()

function(vok_firmware target symbol)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  file(MAKE_DIRECTORY ${out_dir})
  set(rels)
  foreach(src ${ARGN})
    _vok_firmware_object(rel ${out_dir} ${src})
    list(APPEND rels ${rel})
  endforeach()
  get_property(shared_lib GLOBAL PROPERTY VOK_FIRMWARE_LIB)
  get_property(xpage_rel GLOBAL PROPERTY VOK_FIRMWARE_XPAGE)

  set(ihx ${out_dir}/${target}.ihx)
  set(bin ${out_dir}/${symbol}.bin)
  set(c_file ${out_dir}/${symbol}_image.c)
  set(h_file ${out_dir}/${symbol}_image.h)
  # The linker fails by itself when the code exceeds --code-size.
  add_custom_command(OUTPUT ${ihx} ${out_dir}/${target}.map
    COMMAND ${VOK_SDCC} ${VOK_FIRMWARE_CFLAGS} ${VOK_FIRMWARE_LDFLAGS} -o ${ihx} ${rels} ${xpage_rel} ${shared_lib}
    DEPENDS ${rels} ${xpage_rel} ${shared_lib}
    WORKING_DIRECTORY ${out_dir}
    COMMENT "Linking firmware ${target}" VERBATIM)
  add_custom_command(OUTPUT ${bin} ${c_file} ${h_file}
    COMMAND ${Python3_EXECUTABLE} ${VOK_FIRMWARE_DIR}/ihx_image.py ${ihx} --symbol ${symbol}
            --size 4096 --fill 0xAA --bin ${bin} --c ${c_file} --header ${h_file}
    DEPENDS ${ihx} ${VOK_FIRMWARE_DIR}/ihx_image.py
    COMMENT "Firmware image ${symbol} (4096 bytes)" VERBATIM)

  add_custom_target(${target}_image DEPENDS ${bin} ${c_file} ${h_file})
  add_dependencies(${target}_image vokfw_shared)
  add_library(${target} OBJECT ${c_file})
  add_dependencies(${target} ${target}_image)
  target_include_directories(${target} PUBLIC ${out_dir} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(${target} PROPERTIES FIRMWARE_BIN ${bin} FIRMWARE_IHX ${ihx}
                        FIRMWARE_MAP ${out_dir}/${target}.map)
endfunction()

# The shared code, as a library: the linker takes only the modules an image
# uses. The MPAGE definition is an object of its own that every image links.
function(_vok_firmware_shared_library)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/shared)
  file(MAKE_DIRECTORY ${out_dir})
  add_custom_command(OUTPUT ${VOK_FIRMWARE_INC_DIR}/an2131.inc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VOK_FIRMWARE_INC_DIR}
    COMMAND ${Python3_EXECUTABLE} ${VOK_FIRMWARE_DIR}/registers_inc.py ${VOK_FIRMWARE_REGISTERS}
            ${VOK_FIRMWARE_INC_DIR}/an2131.inc
    DEPENDS ${VOK_FIRMWARE_REGISTERS} ${VOK_FIRMWARE_DIR}/registers_inc.py
    COMMENT "Assembler register equates an2131.inc" VERBATIM)
  set(rels)
  foreach(src usb_setup.c usb_isr.c usb_start.c commands.c)
    _vok_firmware_object(rel ${out_dir} ${VOK_FIRMWARE_DIR}/${src})
    list(APPEND rels ${rel})
  endforeach()
  set(lib ${out_dir}/vokfw.lib)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${lib}
    COMMAND ${VOK_SDAR} -rcs ${lib} ${rels}
    DEPENDS ${rels}
    COMMENT "Shared firmware library" VERBATIM)
  _vok_firmware_object(xpage_rel ${out_dir} ${VOK_FIRMWARE_DIR}/xpage.c)
  add_custom_target(vokfw_shared DEPENDS ${lib} ${xpage_rel} ${VOK_FIRMWARE_INC_DIR}/an2131.inc)
  set_property(GLOBAL PROPERTY VOK_FIRMWARE_LIB ${lib})
  set_property(GLOBAL PROPERTY VOK_FIRMWARE_XPAGE ${xpage_rel})
endfunction()
