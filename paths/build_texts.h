// Texts fixed when a launcher is packed. image_data.cpp points them at the
// texts in the data section the packer added to the image; the library
// onefile_default_texts (default_build_texts.cpp) holds the defaults for test
// programs.
#pragma once

extern "C" {
extern const wchar_t* const onefile_company;
extern const wchar_t* const onefile_product;
extern const wchar_t* const onefile_version;
extern const wchar_t* const onefile_file_version;
extern const wchar_t* const onefile_product_version;
// The target folder's template: the fresh folder of each run, or with a
// cache key the cache root. Empty: the default template.
extern const wchar_t* const onefile_target_template;
// Cache mode: 32 hexadecimal digits naming the payload's content; empty when
// the launcher unpacks afresh on every run.
extern const wchar_t* const onefile_cache_key;
// The splash image (contract/data_section.h) and its size in bytes (0: none),
// and the text that replaces "Preparing …" (empty: that text).
extern const unsigned char* const onefile_splash_image;
extern const unsigned long long onefile_splash_image_size;
extern const wchar_t* const onefile_splash_text;
// A program main: its path below the target folder; empty for a DLL main.
extern const wchar_t* const onefile_program_main;
// The program's fixed arguments: `onefile_argument_units` UTF-16 units
// holding each argument with its terminator, one after the other.
extern const wchar_t* const onefile_arguments;
extern const unsigned long long onefile_argument_units;
// Cache mode: each file's SHA-256 in payload order, 32 bytes a file, and
// their size in bytes (0: none, as for a stored payload packed as it is).
extern const unsigned char* const onefile_file_digests;
extern const unsigned long long onefile_file_digests_size;
}
