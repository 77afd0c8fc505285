// make_demo_swf DIR: writes the demo's main.swf, preview.swf and settings.swf
// into DIR (made when missing).

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "demo/DemoSwf.h"
#include "demo/DemoToolArgs.h"

int main(int argc, char** argv) {
  const DemoToolUsage usage = {
      "make_demo_swf", "DIR",
      "Writes the demo's main.swf, preview.swf and settings.swf into DIR (made when missing).",
      1};
  std::vector<std::string> operands;
  int exitCode = 0;
  if (!StartDemoTool(usage, std::vector<std::string>(argv + 1, argv + argc), operands, exitCode))
    return exitCode;
  const std::filesystem::path dir = operands[0];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::cerr << "make_demo_swf: cannot make " << dir << ": " << ec.message() << "\n";
    return 1;
  }
  for (const DemoSwfStyle* style : {&kDemoMain, &kDemoPreview, &kDemoSettings}) {
    const std::vector<unsigned char> swf = MakeDemoSwf(*style);
    const std::filesystem::path path = dir / style->fileName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(swf.data()), static_cast<std::streamsize>(swf.size()));
    out.close();
    if (!out) {
      std::cerr << "make_demo_swf: cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}
