# The sources of each layer, shared by the native build and the Windows DLL build.

# The engine: text utilities, HTML scanning, random draws, the page pass and the
# content pass. It includes nothing of the layers above it (tests/layers_test.cmake).
set(VANTORO_ENGINE_SOURCES
  src/text/decimal.cpp
  src/text/utf8.cpp
  src/html/attribute_scanner.cpp
  src/html/declaration.cpp
  src/html/encoding_sniffer.cpp
  src/html/head_start.cpp
  src/html/tree_builder.cpp
  src/html/protected_regions.cpp
  src/random/draws.cpp
  src/random/random_source.cpp
  src/random/range.cpp
  src/page/gap_text.cpp
  src/page/page_pass.cpp
  src/page/tag_rewriter.cpp
  src/page/tag_sweep.cpp
  src/page/tag_rule.cpp
  src/content/content_pass.cpp
  src/content/copyright.cpp
  src/content/decoys.cpp
)

# Marks in visible text: the erasure code and the keyed marks (needs libsodium).
set(VANTORO_MARK_SOURCES
  src/mark/mark_code.cpp
  src/mark/reed_solomon.cpp
  src/mark/sentence_marks.cpp
)

# The public C++ API and the C interface over the engine.
set(VANTORO_API_SOURCES
  src/api/charset_encoder.cpp
  src/api/protector.cpp
  src/api/response_policy.cpp
  src/c_api/vantoro_c.cpp
)

# The script component: Marquel, variants, dispatch, script errors.
set(VANTORO_COMPONENT_SOURCES
  src/component/conversions.cpp
  src/component/dispatch.cpp
  src/component/marquel.cpp
  src/component/member_table.cpp
  src/component/script_error.cpp
)
