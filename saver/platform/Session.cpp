#include "saver/platform/Session.h"

#include <iostream>

#include "saver/platform/HostReport.h"

int RunSession(SaverPlatform& platform, const Rect& frame, bool preview, SessionSteps& steps) {
  SwfExtractionReport extraction;
  int status = 0;
  {
    lumettaView view(platform);
    if (!view.initWithFrame(frame, preview)) {
      std::cerr << "lumetta: the view could not be created\n";
      return 1;
    }
    extraction = view.lastExtraction();
    if (!ReportExtractionProblem(extraction)) {
      status = 1;
    } else {
      steps.accepted();
      PrintExtraction(extraction, std::cout);
      steps.show(view, extraction);
      status = steps.run(view);
    }
  }  // releasing the view deletes the temporary files

  if (!ReportDeletedFiles(extraction, std::cout)) status = 1;
  return status;
}
