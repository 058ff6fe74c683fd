// The launcher's messages, all in one place. Plain messages carry no newline:
// puts and the system-error format add it.
#pragma once

namespace msg {
inline constexpr char kTemplateFormat[] = "Error, couldn't runtime expand spec '%ls'.\n";
inline constexpr char kOpenForWritingFormat[] = "Error, failed to open '%ls' for writing.\n";
inline constexpr char kSystemErrorFormat[] = "%s ([Error %ld] %s)\n";

inline constexpr char kRegisterHandler[] = "Error, failed to register signal handler.";
inline constexpr char kHeader[] = "Error, couldn't find attached data header.";
inline constexpr char kAllocate[] = "Error, couldn't allocate memory.";
inline constexpr char kDecode[] = "Error, couldn't decode attached data.";
inline constexpr char kWrite[] = "Error, couldn't unpack file to target path.";
inline constexpr char kLaunchChild[] = "Error, couldn't launch child";
inline constexpr char kLoadDll[] = "Error, load DLL.";
inline constexpr char kEntryPoint[] = "Error, DLL entry point not found.";
// Shown in the box of a windowed launcher that stopped on a violated bound;
// the streams get the runtime's own abort text.
inline constexpr char kBoundViolated[] = "Error, a path or text was longer than the launcher can handle.";
}  // namespace msg

// Exit code after every fatal message.
inline constexpr int kFatalExitCode = 2;
