// Zeros of J_(l-1) and the outer-supply series coefficients for the model order.
#pragma once

// True for the orders every run can use: l in [0.1, 10] (velmora::MIN_ORDER,
// velmora::MAX_ORDER); false for NaN.
bool order_in_range(double order);

// Copies the first `size` zeros of J_(order-1) into zeroes and the
// coefficients of the outer-supply series into constl1 and constl2, for any
// order in range: tabulated entries as stored, the rest computed. The order
// -1/3 (outside the range) has only its zero table of 33 entries. An order
// outside the range without a table, or a size above MAX_SERIES_TERMS (33
// for -1/3), ends the process with status -1. Announces itself on standard
// output ("Begin get_zeroes()", the order and the length) unless `quiet`
// (velmora --check, which prints only its report).
void get_zeroes(int size, double order, double* zeroes, double* constl1, double* constl2, bool quiet = false);
