// The manifest and the compilation of all resources into one object.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "packer/quote.h"
#include "packer/resources/resources.h"
#include "packer/resources/run_program.h"

namespace onefile_resources {

using onefile_pack::quote;
namespace {

// Names inside the work directory. windres runs there and finds the icon and
// the manifest by these relative names, so no path needs quoting in the
// script.
constexpr char kIconFile[] = "onefile-icon.ico";
constexpr char kManifestFile[] = "onefile.manifest";
constexpr char kScriptFile[] = "onefile-resources.rc";
constexpr char kObjectFile[] = "onefile-resources.o";

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + quote(path.string()) + ": " + std::strerror(errno));
}

}  // namespace

std::string make_manifest() {
  // The compatibility list runs from Windows Vista to Windows 10 (which also
  // stands for 11). longPathAware lets the unpacked tree go deeper than
  // MAX_PATH where the system allows it.
  return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>
    </windowsSettings>
  </application>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
          processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
</assembly>
)";
}

std::filesystem::path build_resource_object(const ResourceTexts& texts, const std::optional<IconImage>& icon,
                                            const std::filesystem::path& work_dir, const std::string& windres) {
  check_version_text("--company", texts.company);
  check_version_text("--product", texts.product);
  check_version_text("--version", texts.version);
  check_version_text("output file name", texts.original_filename);
  std::error_code error;
  std::filesystem::create_directories(work_dir, error);
  if (error) throw std::runtime_error("cannot create " + quote(work_dir.string()) + ": " + error.message());
  write_file(work_dir / kIconFile, make_ico(make_icon_images(icon ? *icon : default_icon_source())));
  write_file(work_dir / kManifestFile, make_manifest());
  write_file(work_dir / kScriptFile, make_resource_script(texts, kIconFile, kManifestFile));

  const std::filesystem::path object = work_dir / kObjectFile;
  std::filesystem::remove(object, error);
  ProgramResult result = run_program({windres, "--target=pe-x86-64", "--input-format=rc", "--output-format=coff",
                                      "--input", kScriptFile, "--output", kObjectFile},
                                     work_dir);
  if (result.exit_code != 0) {
    std::string output = result.output;
    while (!output.empty() && output.back() == '\n') output.pop_back();
    throw std::runtime_error(quote(windres) + " failed to compile the resources (exit code " +
                             std::to_string(result.exit_code) + ")" + (output.empty() ? "" : ":\n" + output));
  }
  return object;
}

}  // namespace onefile_resources
