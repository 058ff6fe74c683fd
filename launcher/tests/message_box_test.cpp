// The text of a windowed launcher's error box.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "launcher/message_box.h"
#include "tests/support/process.h"

TEST(FatalMessageBox, TextAddsTheSystemsTextForACodeOnASecondLine) {
  wchar_t text[256];
  message_box_text(L"Error, load DLL.", nullptr, nullptr, text, 256);
  EXPECT_STREQ(text, L"Error, load DLL.");
  const DWORD not_found = ERROR_FILE_NOT_FOUND;
  message_box_text(L"Error, load DLL.", &not_found, nullptr, text, 256);
  const std::wstring with_code = text;
  EXPECT_EQ(with_code.rfind(L"Error, load DLL.\n[Error 2] ", 0), 0u) << onefile_test::narrow(with_code);
  EXPECT_GT(with_code.size(), wcslen(L"Error, load DLL.\n[Error 2] "));
  EXPECT_EQ(with_code.find_first_of(L"\r"), std::wstring::npos);
  EXPECT_NE(with_code.back(), L'\n');
  // A code without a text, and a buffer too small: cut short, terminated.
  const DWORD unknown = 0xE0000001;
  message_box_text(L"Error, load DLL.", &unknown, nullptr, text, 256);
  EXPECT_STREQ(text, L"Error, load DLL.\n[Error 3758096385] ");
  wchar_t small[8];
  message_box_text(L"Error, load DLL.", &not_found, nullptr, small, 8);
  EXPECT_EQ(wcslen(small), 7u);
  // A text that names the file gets the path, as the stream's line does.
  const DWORD bad_format = ERROR_BAD_EXE_FORMAT;
  message_box_text(L"Error, load DLL.", &bad_format, L"C:\\t\\x.dll", text, 256);
  EXPECT_NE(std::wstring(text).find(L"C:\\t\\x.dll"), std::wstring::npos) << onefile_test::narrow(text);
  EXPECT_EQ(std::wstring(text).find(L'%'), std::wstring::npos) << onefile_test::narrow(text);
}
