#include "bench/Summary.h"

int main(int argc, char** argv) { return vello_bench::RunWithSummary(argc, argv); }
