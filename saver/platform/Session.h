#pragma once

#include "saver/SaverPlatform.h"
#include "saver/SwfFiles.h"
#include "saver/lumettaView.h"

// One run of the saver view, whatever shows it: the view is made, its
// programs reported, shown and run, then released, and the person told
// whether the files it wrote are gone.

// What a layer adds to the run.
class SessionSteps {
 public:
  // The programs can be shown: before they are listed.
  virtual void accepted() {}
  // After they are listed: whatever the layer shows or reports of the view.
  virtual void show(lumettaView& view, const SwfExtractionReport& extraction) = 0;
  // Runs the view until it ends; the exit status.
  virtual int run(lumettaView& view) = 0;

 protected:
  ~SessionSteps() = default;
};

// Returns the exit status: 1 when the view could not be made, its programs
// cannot be shown, the run failed or a file is left behind.
int RunSession(SaverPlatform& platform, const Rect& frame, bool preview, SessionSteps& steps);
