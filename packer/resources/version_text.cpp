// The version resource's texts: checking them, their numeric form, and the
// resource script that carries them.
#include <cstdio>
#include <stdexcept>

#include "packer/resources/resources.h"

namespace onefile_resources {
namespace {

// Decodes UTF-8 strictly (no overlong forms, no surrogates); false on any
// error.
bool decode_utf8(const std::string& text, std::vector<uint32_t>& out) {
  for (size_t i = 0; i < text.size();) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    int extra = lead < 0x80                   ? 0
                : lead >= 0xc2 && lead < 0xe0 ? 1
                : lead >= 0xe0 && lead < 0xf0 ? 2
                : lead >= 0xf0 && lead < 0xf5 ? 3
                                              : -1;
    if (extra < 0 || text.size() - i <= static_cast<size_t>(extra)) return false;
    uint32_t code_point = extra == 0 ? lead : lead & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
      uint8_t next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code_point = code_point << 6 | (next & 0x3f);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code_point < kSmallest[extra] || code_point > 0x10ffff || (code_point >= 0xd800 && code_point < 0xe000)) {
      return false;
    }
    out.push_back(code_point);
    i += extra + 1;
  }
  return true;
}

bool is_control(uint32_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029; }

// A wide string literal of the resource script. Printable ASCII stays as it
// is, except the quote, the backslash and the question mark (trigraphs); all
// else becomes a UTF-16 unit escape. windres reads exactly four hex digits
// after \x in a wide string, so a following digit cannot join the escape:
//   Café 1"€  ->  L"Caf\x00e9 1\x0022\x20ac"
std::string wide_literal(const std::string& text) {
  std::vector<uint32_t> code_points;
  decode_utf8(text, code_points);
  std::string out = "L\"";
  auto escape = [&out](uint32_t unit) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x%04x", static_cast<unsigned>(unit));
    out += buffer;
  };
  for (uint32_t c : code_points) {
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '?') {
      out += static_cast<char>(c);
    } else if (c >= 0x10000) {
      escape(0xd800 + ((c - 0x10000) >> 10));
      escape(0xdc00 + ((c - 0x10000) & 0x3ff));
    } else {
      escape(c);
    }
  }
  return out + "\"";
}

}  // namespace

void check_version_text(const std::string& option, const std::string& text) {
  std::vector<uint32_t> code_points;
  if (!decode_utf8(text, code_points)) throw std::runtime_error(option + ": the text is not valid UTF-8");
  size_t units = 0;
  for (uint32_t c : code_points) {
    if (is_control(c)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      throw std::runtime_error(option + ": the text has a control character (" + code +
                               "), which the version resource cannot hold");
    }
    units += c >= 0x10000 ? 2 : 1;
  }
  if (units > kMaxVersionTextLength) {
    throw std::runtime_error(option + ": the text is longer than " + std::to_string(kMaxVersionTextLength) +
                             " characters, which the version resource cannot hold");
  }
}

NumericVersion parse_numeric_version(const std::string& text) {
  NumericVersion version;
  size_t part = 0;
  uint32_t value = 0;
  size_t digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + (text[i] - '0');
      if (++digits > 5 || value > 0xffff) return {};
      continue;
    }
    if ((i < text.size() && text[i] != '.') || digits == 0 || part == 4) return {};
    version.part[part++] = static_cast<uint16_t>(value);
    value = 0;
    digits = 0;
  }
  return version;
}

std::string make_resource_script(const ResourceTexts& texts, const std::string& ico_file,
                                 const std::string& manifest_file) {
  NumericVersion v = parse_numeric_version(texts.version);
  const std::string numbers = std::to_string(v.part[0]) + ", " + std::to_string(v.part[1]) + ", " +
                              std::to_string(v.part[2]) + ", " + std::to_string(v.part[3]);
  std::string values;
  auto value = [&values](const char* name, const std::string& text) {
    values += std::string("      VALUE \"") + name + "\", " + wide_literal(text) + "\n";
  };
  value("CompanyName", texts.company);
  value("FileDescription", texts.product);
  value("FileVersion", texts.version);
  if (!texts.original_filename.empty()) value("OriginalFilename", texts.original_filename);
  value("ProductName", texts.product);
  value("ProductVersion", texts.version);

  // English (United States), Unicode: the language of every resource and the
  // string table's key 040904B0.
  return "LANGUAGE 0x09, 0x01\n"
         "\n"
         "1 ICON \"" + ico_file + "\"\n"
         "\n"
         "1 VERSIONINFO\n"
         "FILEVERSION " + numbers + "\n"
         "PRODUCTVERSION " + numbers + "\n"
         "FILEFLAGSMASK 0x3f\n"
         "FILEFLAGS 0x0\n"
         "FILEOS 0x40004\n"   // VOS_NT_WINDOWS32
         "FILETYPE 0x1\n"     // VFT_APP
         "FILESUBTYPE 0x0\n"
         "BEGIN\n"
         "  BLOCK \"StringFileInfo\"\n"
         "  BEGIN\n"
         "    BLOCK \"040904B0\"\n"
         "    BEGIN\n" +
         values +
         "    END\n"
         "  END\n"
         "  BLOCK \"VarFileInfo\"\n"
         "  BEGIN\n"
         "    VALUE \"Translation\", 0x0409, 1200\n"
         "  END\n"
         "END\n"
         "\n"
         "1 24 \"" + manifest_file + "\"\n";  // RT_MANIFEST, the process's own manifest
}

}  // namespace onefile_resources
