#pragma once

#include <ostream>

#include "saver/SwfFiles.h"

// What the host tells the person about the programs of a view.

// Where the package was read from and where each program went.
void PrintExtraction(const SwfExtractionReport& report, std::ostream& out);

// When the programs cannot be shown, says why on standard error and
// returns false.
bool ReportExtractionProblem(const SwfExtractionReport& report);

// After the view was released: "deleted: PATH" or "still there: PATH" for
// each file the extraction wrote. False when one is still there.
bool ReportDeletedFiles(const SwfExtractionReport& report, std::ostream& out);
