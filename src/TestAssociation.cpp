// The association test: projection, residuals, statistics and result file.
#include "Test.h"

void CTest::Test() {}

void CTest::cal_betaa_formula(double*, bool) {}

void CTest::cal_betaa(double*, bool) {}

void CTest::cal_ss() {}

double CTest::calculate_T() { return 0; }

double CTest::calculate_T1() { return 0; }
