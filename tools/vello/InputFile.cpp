#include "tools/vello/InputFile.h"

#include <sys/stat.h>

#include "tools/vello/ToolError.h"

InputCheck CheckInput(const std::string& path) {
  InputCheck check;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    check.why = LastSystemError();
    return check;
  }
  if (S_ISREG(st.st_mode)) {
    check.kind = InputCheck::kRegular;
    check.size = static_cast<std::uint64_t>(st.st_size);
    return check;
  }
  if (S_ISDIR(st.st_mode)) {
    check.kind = InputCheck::kFolder;
    check.why = "it is a folder";
    return check;
  }
  const char* kind = S_ISFIFO(st.st_mode)   ? "a FIFO"
                     : S_ISCHR(st.st_mode)  ? "a character device"
                     : S_ISBLK(st.st_mode)  ? "a block device"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                                            : "no regular file";
  check.kind = InputCheck::kNotAFile;
  check.why = std::string("it is ") + kind + ", not a regular file";
  return check;
}
