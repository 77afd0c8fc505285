#pragma once

// How a package is read. By default every byte run comes into memory.
struct PackageReadOptions {
  // Main programs stay in the file: each form notes where its program's
  // stored bytes start (CPackageForm::GetStoredSWFOffset) and keeps no
  // copy, for a caller that streams them from the file itself. Such a form
  // can neither be written nor unpacked, and a plain one tells SWF version
  // 0 (its header is not at hand). Taken only on a file that can seek and
  // has a descriptor; other streams are read whole as usual.
  bool leaveMainProgramsInFile = false;
};
