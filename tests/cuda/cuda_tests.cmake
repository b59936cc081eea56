# The CUDA library's tests, on a stand-in CUDA driver: a libcuda.so.1 built
# for the tests only (never installed, never linked into the libraries) that
# runs the kernels' host builds. Each test program finds it first on its
# loader path.
file(GLOB KVN_STAND_IN_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cuda/stand_in_driver/*.cpp)
get_property(KVN_LIBRARY_HOST_KERNELS GLOBAL PROPERTY KVN_KERNEL_HOST_TARGETS)

# kvn_add_stand_in_driver(<target> <folder> [definitions...])
function(kvn_add_stand_in_driver target folder)
  add_library(${target} SHARED ${KVN_STAND_IN_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_link_libraries(${target} PRIVATE kvn_kernel_runtime kvn_kernel_tools korvane_core ${KVN_LIBRARY_HOST_KERNELS})
  target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/cuda/stand_in_driver/exports.map)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME cuda PREFIX lib SUFFIX .so.1
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/stand_in_driver/${folder}
                        LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cuda/stand_in_driver/exports.map)
  kvn_depend_on_kernels(${target})
endfunction()

kvn_add_stand_in_driver(kvn_stand_in_cuda full)
# A driver without cuCtxCreate_v2, for the plain-name fallback.
kvn_add_stand_in_driver(kvn_stand_in_cuda_without_v2 without_v2 KVN_STAND_IN_WITHOUT_CTX_CREATE_V2)
set(KVN_STAND_IN_DIR ${CMAKE_CURRENT_BINARY_DIR}/stand_in_driver/full)
set(KVN_STAND_IN_WITHOUT_V2_DIR ${CMAKE_CURRENT_BINARY_DIR}/stand_in_driver/without_v2)

file(GLOB_RECURSE KVN_CUDA_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cuda/*.cpp)
list(FILTER KVN_CUDA_TEST_SOURCES EXCLUDE REGEX "/stand_in_driver/")
add_executable(test_cuda ${KVN_CUDA_TEST_SOURCES})
target_include_directories(test_cuda PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_cuda PRIVATE korvane_core korvane_cuda_objects korvane_pipeline_objects kvn_reference
                                        GTest::gtest GTest::gtest_main)
get_property(KVN_CUDA_MODULES GLOBAL PROPERTY KVN_CUDA_MODULES)
kvn_embed_modules(test_cuda cuda_test_ptx_modules ${KVN_CUDA_MODULES})
kvn_depend_on_kernels(test_cuda)
add_dependencies(test_cuda kvn_stand_in_cuda kvn_stand_in_cuda_without_v2)

kvn_environment_property(KVN_CUDA_ENV ${KVN_TEST_ENV} LD_LIBRARY_PATH=${KVN_STAND_IN_DIR})
gtest_discover_tests(test_cuda TEST_PREFIX "cuda." DISCOVERY_MODE PRE_TEST PROPERTIES ENVIRONMENT "${KVN_CUDA_ENV}")
# Again with queued work run only when something forces it.
kvn_environment_property(KVN_CUDA_LAZY_ENV ${KVN_TEST_ENV} LD_LIBRARY_PATH=${KVN_STAND_IN_DIR} KVN_STAND_IN_LAZY=1)
gtest_discover_tests(test_cuda TEST_PREFIX "cuda.lazy." DISCOVERY_MODE PRE_TEST
                     PROPERTIES ENVIRONMENT "${KVN_CUDA_LAZY_ENV}")
# The bring-up on a driver that lacks cuCtxCreate_v2, and with no driver at all.
add_test(NAME cuda.bring_up.without_v2 COMMAND test_cuda --gtest_filter=DriverWithoutV2.*)
set_tests_properties(cuda.bring_up.without_v2 PROPERTIES
                     ENVIRONMENT "${KVN_TEST_ENV};LD_LIBRARY_PATH=${KVN_STAND_IN_WITHOUT_V2_DIR}")
add_test(NAME cuda.bring_up.no_driver COMMAND test_cuda --gtest_filter=NoDriver.*)
set_tests_properties(cuda.bring_up.no_driver PROPERTIES ENVIRONMENT "${KVN_TEST_ENV}")
# Frames for the decode tests come from the Vulkan library, loaded by path.
target_compile_definitions(test_cuda PRIVATE KVN_VK_LIBRARY="$<TARGET_FILE:korvane_gpu_vk>")
add_dependencies(test_cuda korvane_gpu_vk)
target_compile_definitions(test_cuda PRIVATE KVN_CORPUS_DIR="${KVN_CORPUS_DIR}")
