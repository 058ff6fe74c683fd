// Texts fixed when a launcher is linked. The packer emits them per app in the
// same generated object as the payload, so the launcher's objects are linked
// unchanged; the library onefile_default_texts (default_build_texts.cpp)
// holds the defaults for test programs.
#pragma once

extern "C" {
extern const wchar_t onefile_company[];
extern const wchar_t onefile_product[];
extern const wchar_t onefile_version[];
extern const wchar_t onefile_file_version[];
extern const wchar_t onefile_product_version[];
}
