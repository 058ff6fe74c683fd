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
// A violated bound (a command line that passes the system's limit once the
// app's path is argument 0, a path too long): on standard error, and in the
// box of a windowed launcher, before the runtime's abort (exit code 3).
inline constexpr char kBoundViolated[] = "Error, a path or text was longer than the launcher can handle.";
}  // namespace msg

// Exit code after every fatal message.
inline constexpr int kFatalExitCode = 2;
