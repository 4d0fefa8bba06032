# The fuzz targets, shared by the libFuzzer build (fuzz/CMakeLists.txt) and
# the corpus replay under ctest (fuzz/replay.cmake). The includer defines
# ql_fuzz_target(<name> <libraries>...), which gets fuzz/<name>_fuzzer.cc
# and the project libraries it links; a new target is one more line here.

set(QL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

ql_fuzz_target(color_profile ql_thumbnail_color ql_log ql_test_support z)
ql_fuzz_target(command_handler ql_thumbnail ql_protocol ql_test_support)
ql_fuzz_target(exif_orientation ql_thumbnail ql_test_support)
ql_fuzz_target(frame_receiver ql_ipc ql_log ql_test_support)
ql_fuzz_target(image_handler ql_thumbnail ql_test_support)
ql_fuzz_target(extended_formats ql_thumbnail ql_test_support)
ql_fuzz_target(image_header_probe ql_thumbnail ql_test_support)
ql_fuzz_target(json_parser ql_json ql_log libjson ql_test_support)
ql_fuzz_target(media_decoder ql_media_decode ql_base ql_test_support)
