# Kernel modules: one source in the kernel dialect (kernels/dialect.h) built
# three ways.
#
#   kvn_add_kernel_module(SOURCE <file.comp> ENTRIES <entry>... [CUDA_ENTRIES <entry>...]
#                         [SEPARATE_FORMS <entry>...] [TEST_ONLY])
#
# CUDA_ENTRIES have no SPIR-V form (grid barriers, dynamic shared memory).
# SEPARATE_FORMS are ENTRIES whose CUDA form takes other parameters than their
# Vulkan form (the source picks its table with #if defined(KVN_TARGET_SPIRV));
# for them the interface comparison only finds the entry in the PTX.
#
# - SPIR-V: one module per entry (glslc, -DKVN_ENTRY_<entry>), checked by
#   spirv-val and by `kvn_kernel_check spirv` (no subgroup operations);
# - PTX (with the CUDA toolkit, KVN_CUDA): one module per source with every
#   entry (nvcc -ptx -arch=sm_80), checked by ptxas;
# - the PTX parameters of each entry compared with its SPIR-V interface (a
#   CUDA-only entry just found in the PTX), and the source linted for integer traps;
# - host build: object library kvn_kernel_<stem>_host for tests, running on
#   tests/kernel_runtime (built only when a test links it).
#
# Library modules join the lists the libraries embed (global properties
# KVN_VK_MODULES: entry=file.spv, KVN_CUDA_MODULES: stem=file.ptx). TEST_ONLY
# modules stay out of them; a test embeds them itself from the target
# properties KVN_SPIRV_MODULES and KVN_PTX_MODULES of kvn_kernel_<stem>.

find_program(KVN_GLSLC glslc)
find_program(KVN_SPIRV_VAL spirv-val)
find_program(KVN_NVCC nvcc HINTS /usr/local/cuda/bin ENV CUDA_PATH PATH_SUFFIXES bin)
find_program(KVN_PTXAS ptxas HINTS /usr/local/cuda/bin ENV CUDA_PATH PATH_SUFFIXES bin)
if(NOT KVN_GLSLC)
  message(FATAL_ERROR "glslc not found: it compiles the Vulkan kernels to SPIR-V (Debian package glslc)")
endif()
if(NOT KVN_SPIRV_VAL)
  message(FATAL_ERROR "spirv-val not found: it validates every SPIR-V kernel (Debian package spirv-tools)")
endif()
# The CUDA toolkit compiles the PTX of the CUDA library. Without it (AUTO) the
# Vulkan library builds and tests alone; CI asks for both (ON).
set(KVN_CUDA AUTO CACHE STRING "Build korvane_gpu and the PTX kernels: ON, OFF or AUTO (when nvcc and ptxas are found)")
set_property(CACHE KVN_CUDA PROPERTY STRINGS ON OFF AUTO)
if(KVN_CUDA STREQUAL "OFF")
  set(KVN_HAVE_CUDA OFF)
elseif(KVN_NVCC AND KVN_PTXAS)
  set(KVN_HAVE_CUDA ON)
elseif(KVN_CUDA STREQUAL "ON")
  message(FATAL_ERROR "nvcc or ptxas not found: the CUDA toolkit compiles the CUDA kernels to PTX "
                      "(looked on PATH and in /usr/local/cuda/bin)")
else()
  set(KVN_HAVE_CUDA OFF)
endif()
if(NOT KVN_HAVE_CUDA)
  message(WARNING "No CUDA toolkit (nvcc, ptxas) in use: korvane_gpu and the PTX checks of the kernels are skipped; "
                  "the Vulkan library builds and tests alone")
endif()

set(KVN_KERNEL_OUT ${CMAKE_BINARY_DIR}/kernel_modules)
file(MAKE_DIRECTORY ${KVN_KERNEL_OUT})

function(kvn_add_kernel_module)
  cmake_parse_arguments(K "TEST_ONLY" "SOURCE" "ENTRIES;CUDA_ENTRIES;SEPARATE_FORMS" ${ARGN})
  if(NOT K_SOURCE OR (NOT K_ENTRIES AND NOT K_CUDA_ENTRIES))
    message(FATAL_ERROR "kvn_add_kernel_module needs SOURCE and ENTRIES or CUDA_ENTRIES")
  endif()
  get_filename_component(src ${K_SOURCE} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(stem ${src} NAME_WE)
  string(MAKE_C_IDENTIFIER ${stem} stem)
  set(out ${KVN_KERNEL_OUT})
  set(entry_defines "")
  foreach(entry IN LISTS K_ENTRIES K_CUDA_ENTRIES)
    list(APPEND entry_defines -DKVN_ENTRY_${entry})
  endforeach()

  add_custom_command(
    OUTPUT ${out}/${stem}.lint
    COMMAND kvn_kernel_check lint ${src} ${PROJECT_SOURCE_DIR} ${out}/${stem}.lint
    DEPFILE ${out}/${stem}.lint.d
    DEPENDS ${src} kvn_kernel_check
    COMMENT "Linting kernel source ${stem}")

  set(outputs ${out}/${stem}.lint)
  set(ptx "")
  if(KVN_HAVE_CUDA)
    set(ptx ${out}/${stem}.ptx)
    add_custom_command(
      OUTPUT ${ptx}
      COMMAND ${KVN_NVCC} -ptx -arch=sm_80 -std=c++20 -x cu ${entry_defines} -I${PROJECT_SOURCE_DIR}
              -MD -MF ${ptx}.d -MT ${ptx} -o ${ptx} ${src}
      COMMAND ${KVN_PTXAS} -arch=sm_80 -o ${out}/${stem}.cubin ${ptx}
      DEPFILE ${ptx}.d
      DEPENDS ${src}
      COMMENT "Compiling kernel ${stem} to PTX")
    list(APPEND outputs ${ptx})
    # The entries' parameter tables and block shapes for the CUDA library's launches.
    set(params ${out}/${stem}.params)
    add_custom_command(
      OUTPUT ${params}
      COMMAND ${CMAKE_CXX_COMPILER} -E -P -x c++ -std=c++20 -DKVN_TARGET_PARAM_TABLE ${entry_defines}
              -I${PROJECT_SOURCE_DIR} -MD -MF ${params}.d -MT ${params} -o ${params} ${src}
      DEPFILE ${params}.d
      DEPENDS ${src}
      COMMENT "Reading the parameter tables of kernel ${stem}")
    list(APPEND outputs ${params})
  endif()
  set(spirv_modules "")
  foreach(entry IN LISTS K_ENTRIES)
    set(spv ${out}/${entry}.spv)
    add_custom_command(
      OUTPUT ${spv}
      COMMAND ${KVN_GLSLC} -fshader-stage=compute -std=450core --target-env=vulkan1.2 -DKVN_TARGET_SPIRV
              -DKVN_ENTRY_${entry} -I${PROJECT_SOURCE_DIR} -MD -MF ${spv}.d -MT ${spv} -o ${spv} ${src}
      COMMAND ${KVN_SPIRV_VAL} --target-env vulkan1.2 ${spv}
      COMMAND kvn_kernel_check spirv ${spv}
      DEPFILE ${spv}.d
      DEPENDS ${src} kvn_kernel_check
      COMMENT "Compiling kernel ${entry} to SPIR-V")
    list(APPEND outputs ${spv})
    list(APPEND spirv_modules "${entry}=${spv}")
    if(NOT KVN_HAVE_CUDA)
      continue()
    endif()
    if(entry IN_LIST K_SEPARATE_FORMS)
      set(compare ptx ${ptx} ${entry})
    else()
      set(compare interface ${ptx} ${entry} ${spv})
    endif()
    add_custom_command(
      OUTPUT ${out}/${entry}.interface
      COMMAND kvn_kernel_check ${compare}
      COMMAND ${CMAKE_COMMAND} -E touch ${out}/${entry}.interface
      DEPENDS ${ptx} ${spv} kvn_kernel_check
      COMMENT "Comparing the PTX and SPIR-V parameters of ${entry}")
    list(APPEND outputs ${out}/${entry}.interface)
  endforeach()

  set(cuda_entries ${K_CUDA_ENTRIES})
  if(NOT KVN_HAVE_CUDA)
    set(cuda_entries "")
  endif()
  foreach(entry IN LISTS cuda_entries)
    add_custom_command(
      OUTPUT ${out}/${entry}.ptx_entry
      COMMAND kvn_kernel_check ptx ${ptx} ${entry}
      COMMAND ${CMAKE_COMMAND} -E touch ${out}/${entry}.ptx_entry
      DEPENDS ${ptx} kvn_kernel_check
      COMMENT "Finding the CUDA-only entry ${entry}")
    list(APPEND outputs ${out}/${entry}.ptx_entry)
  endforeach()

  add_custom_target(kvn_kernel_${stem} ALL DEPENDS ${outputs})
  set(ptx_modules "")
  if(ptx)
    set(ptx_modules "${stem}=${ptx}")
  endif()
  set_target_properties(kvn_kernel_${stem} PROPERTIES KVN_SPIRV_MODULES "${spirv_modules}"
                                                      KVN_PTX_MODULES "${ptx_modules}")
  if(NOT K_TEST_ONLY)
    set_property(GLOBAL APPEND PROPERTY KVN_VK_MODULES ${spirv_modules})
    set_property(GLOBAL APPEND PROPERTY KVN_CUDA_MODULES ${ptx_modules})
    if(ptx)
      set_property(GLOBAL APPEND PROPERTY KVN_CUDA_PARAM_TABLES ${params})
    endif()
    set_property(GLOBAL APPEND PROPERTY KVN_KERNEL_TARGETS kvn_kernel_${stem})
    set_property(GLOBAL APPEND PROPERTY KVN_KERNEL_HOST_TARGETS kvn_kernel_${stem}_host)
  endif()

  # Host build: the source inside a namespace of its own, so that file-scope
  # helpers of different kernels never meet.
  set(host_cpp ${out}/${stem}_host.cpp)
  file(CONFIGURE OUTPUT ${host_cpp} CONTENT
    "// Generated by cmake/KernelModules.cmake: host build of ${K_SOURCE}.\n#include \"kernels/dialect.h\"\n\nnamespace kvn_kernel_${stem} {\n#include \"${src}\"\n}\n"
    @ONLY)
  add_library(kvn_kernel_${stem}_host OBJECT EXCLUDE_FROM_ALL ${host_cpp})
  target_compile_options(kvn_kernel_${stem}_host PRIVATE ${entry_defines})
  target_include_directories(kvn_kernel_${stem}_host PRIVATE ${PROJECT_SOURCE_DIR})
  add_dependencies(kvn_kernel_${stem}_host kvn_kernel_${stem})
endfunction()

# Makes <target> wait for every library kernel module.
function(kvn_depend_on_kernels target)
  get_property(kernel_targets GLOBAL PROPERTY KVN_KERNEL_TARGETS)
  if(kernel_targets)
    add_dependencies(${target} ${kernel_targets})
  endif()
endfunction()
