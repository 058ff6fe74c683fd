// Build-time texts of a launcher that the packer did not complete (test
// programs). The packer always writes its own, with these as defaults for a
// missing company and version.
#include "paths/build_texts.h"

extern "C" {
const wchar_t* const onefile_company = L"";
const wchar_t* const onefile_product = L"Vorlan Onefile";
const wchar_t* const onefile_version = L"1.0.0.0";
const wchar_t* const onefile_file_version = L"1.0.0.0";
const wchar_t* const onefile_product_version = L"1.0.0.0";
const wchar_t* const onefile_target_template = L"";
const wchar_t* const onefile_cache_key = L"";
const unsigned char* const onefile_splash_image = nullptr;
const unsigned long long onefile_splash_image_size = 0;
const wchar_t* const onefile_splash_text = L"";
const wchar_t* const onefile_program_main = L"";
const wchar_t* const onefile_arguments = L"";
const unsigned long long onefile_argument_units = 0;
const unsigned char* const onefile_file_digests = nullptr;
const unsigned long long onefile_file_digests_size = 0;
}
